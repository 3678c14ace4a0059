// Reading a connection's first read as an HTTP request: the request line and
// the few header values the server acts on. Nothing is copied or changed;
// every scan is bounded by the bytes given (a read may fill the receive
// buffer without a terminating zero, and may hold zero bytes anywhere).
#pragma once

#include <cstdint>

constexpr int kMethodLongest = 16;  // longer first words are not a request line

// A stretch of the read: no terminating zero.
struct TextSpan {
  const char* text = nullptr;
  int length = 0;
};

// One header's value as found in the read.
struct HeaderValue {
  TextSpan value;      // spaces and tabs around it dropped
  TextSpan last;       // the same of the last line naming it (a proxy appends its own)
  int count = 0;       // how many lines name the header (0: absent)
  bool whole = false;  // the first such line ends inside the read
};

struct HttpRequest {
  bool isHttp = false;           // the read opens with "<METHOD> " (upper-case letters)
  bool headersComplete = false;  // the blank line that ends the headers is in the read
  int bodyStart = 0;             // with headersComplete: index just past the blank line
  TextSpan method;
  TextSpan path;  // the request target up to "?" or "#"
  HeaderValue host;
  HeaderValue origin;
  HeaderValue upgrade;
  HeaderValue key;         // Sec-WebSocket-Key
  HeaderValue version;     // Sec-WebSocket-Version
  HeaderValue extensions;  // Sec-WebSocket-Extensions
  HeaderValue protocols;   // Sec-WebSocket-Protocol
  HeaderValue contentLength;
  HeaderValue cookie;
  HeaderValue authorization;
  HeaderValue forwardedFor;  // X-Forwarded-For
  HeaderValue forwarded;     // Forwarded
  HeaderValue fetchSite;     // Sec-Fetch-Site: only browsers send it
};

// Reads the request line and the headers above from the first `length`
// bytes of `bytes`. A read that does not open with a request line is still
// searched for the headers from its first line on, since it is answered as
// an upgrade and its WebSocket headers shape the reply.
HttpRequest readHttpRequest(const uint8_t* bytes, int length);

// True when the span holds exactly `word`, letters compared without case.
bool spanIs(TextSpan span, const char* word);
// True when the span holds exactly `word`, byte for byte.
bool spanEquals(TextSpan span, const char* word);
// The item of a `separator`-split list that starts at *from, spaces around
// it dropped; *from moves just past the item's separator.
TextSpan nextListItem(TextSpan list, int* from, char separator);
// True when both spans hold the same text, letters compared without case.
bool spansMatch(TextSpan a, TextSpan b);
// True when the span holds `word` anywhere, letters compared without case.
bool spanHas(TextSpan span, const char* word);

// The value of the cookie `name` in a Cookie header ("a=1; b=2"), or an
// empty span when it is absent or empty.
TextSpan cookieValue(TextSpan header, const char* name);
// The token of "Bearer <token>" (scheme without case), or an empty span.
TextSpan bearerToken(TextSpan header);
// The raw value of `name` in a form body ("a=1&b=2"), or an empty span.
TextSpan formField(TextSpan body, const char* name);
// Percent-decodes a form value ("+" is a space) into out; its length, or
// -1 when it does not fit in `size` bytes or holds a bad escape.
int formDecode(TextSpan value, char* out, int size);
// Percent-decodes a path segment the same way, "+" kept as it is and an
// escaped NUL refused.
int pathDecode(TextSpan value, char* out, int size);
// The value of a hexadecimal digit (either case), or -1.
int hexDigitValue(char c);
// A Content-Length value: 0 or more, or -1 when it is not plain digits or
// exceeds `most`.
int contentLengthOf(TextSpan value, int most);
