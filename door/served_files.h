// The files the server hands to browsers, compiled in from client/ by the
// build (tools/embed_files.cmake), so the binary always carries the page the
// repository holds: the page, its manifest, its two icons and its change-stream script.
#pragma once

#include <cstdint>

struct EmbeddedFile {
  const uint8_t* bytes;
  int size;
};

extern const EmbeddedFile kPageFile;           // client/index.html
extern const EmbeddedFile kManifestFile;       // client/manifest.json
extern const EmbeddedFile kIconSvgFile;        // client/icon.svg
extern const EmbeddedFile kIconPngFile;        // client/icon.png
extern const EmbeddedFile kChangesScriptFile;  // client/changes.js

// The page's inline style and script as a Content-Security-Policy source,
// quotes included: 'sha256-<Base64 of the digest>'; the script's also allows
// the page's own served script ('self').
extern const char kPageStyleSource[];
extern const char kPageScriptSource[];
