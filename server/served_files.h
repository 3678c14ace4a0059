// The files the server hands to browsers, compiled in from client/ by the
// build (tools/embed_files.cmake), so the binary always carries the page the
// repository holds: the page, its manifest and its two icons.
#pragma once

#include <cstdint>

struct EmbeddedFile {
  const uint8_t* bytes;
  int size;
};

extern const EmbeddedFile kPageFile;      // client/index.html
extern const EmbeddedFile kManifestFile;  // client/manifest.json
extern const EmbeddedFile kIconSvgFile;   // client/icon.svg
extern const EmbeddedFile kIconPngFile;   // client/icon.png

// The page's inline style and script as a Content-Security-Policy source,
// quotes included: 'sha256-<Base64 of the digest>'.
extern const char kPageStyleSource[];
extern const char kPageScriptSource[];
