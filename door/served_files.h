// The files the server hands to browsers: every file of client/, compiled in
// by the build (tools/embed_files.cmake), so the binary always carries the
// page the repository holds. kServedFiles is the one list of them.
#pragma once

#include <cstdint>

struct EmbeddedFile {
  const uint8_t* bytes;
  int size;
};

// One served file: the path it answers ("/<its name>", and "/" for the page),
// its content type and its bytes.
struct ServedFile {
  const char* path;
  const char* type;
  const EmbeddedFile* file;
};
extern const ServedFile kServedFiles[];
extern const int kServedFileCount;

// The page, client/index.html: its answer carries the page's own policy.
extern const EmbeddedFile kPageFile;

// The page's inline style as a Content-Security-Policy source, quotes
// included: 'sha256-<Base64 of the digest>'. Its scripts are files of
// client/, allowed as 'self'.
extern const char kPageStyleSource[];
