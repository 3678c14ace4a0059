// The answer to a connection's request when it is not an upgrade the server
// goes on with: the page and its files for a plain GET (and their headers
// alone for HEAD), 404 for other paths, 405 for other methods, 431 for a
// request whose headers do not end in the read, and 403 for an upgrade the
// origin policy refuses. Each is a whole
// HTTP/1.1 answer after which the connection ends.
#pragma once

#include <cstdint>

#include "door/http_request.h"
#include "door/served_files.h"

constexpr int kExtraBound = 256;  // header lines an answer adds

// The connection's first read: the request's bytes, and room after them
// for a body that arrives later.
struct FirstRead {
  uint8_t* bytes;
  int length;
  int capacity;
};

struct HttpAnswer {
  int status = 0;                      // 0: an upgrade to go on with
  const char* reason = nullptr;        // "OK", "Not Found", ...
  const char* type = nullptr;          // Content-Type
  const EmbeddedFile* file = nullptr;  // the body, or null for `text`
  const char* text = nullptr;          // a short text body
  int refusal = 0;                     // the origin policy's reason for a 403
  bool headOnly = false;               // HEAD: the headers GET would get, no body
  const char* marker = nullptr;        // for the page: a line put after its "<head>"
  char extra[kExtraBound] = {};        // header lines (each with CRLF) to add
  TextSpan host;  // for the page: the Host it was asked under, when a local name
};

// What the request gets without an access key, by the front door's routes
// (door/front_door.cpp); a read that does not open with a request line is an
// upgrade, as every first read was before the page was served.
HttpAnswer answerFor(const HttpRequest& request, bool peerOnLoopback);

// The served file at the request's path (200, with the Host it was asked
// under when that is a local name), or 404.
HttpAnswer servedFileAnswer(const HttpRequest& request);

// A short text answer of the given status.
HttpAnswer textAnswer(int status, const char* reason, const char* text);
// Writes the answer and ends the sending side; 0, or -1 when it did not go out.
int writeAnswer(int sock, const HttpAnswer& answer);
