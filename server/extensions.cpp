// Reading of the extension offer list and the accepting reply line.
//
// The scan never reads past the length given or a NUL, and a quoted value
// is read with its escapes, so a comma or semicolon inside quotes does not
// end an offer or a parameter.
#include "server/extensions.h"

#include <cstring>

namespace {

constexpr char kExtensionName[] = "permessage-deflate";
constexpr int kWindowBitsMin = 8;
constexpr int kWindowBitsMax = 15;
constexpr size_t kTokenMax = 32;  // longer names or values are never ones the server knows

// The parameters the server knows, as bits, so a repeat is seen.
constexpr unsigned kServerNoTakeover = 1;
constexpr unsigned kClientNoTakeover = 2;
constexpr unsigned kServerWindow = 4;
constexpr unsigned kClientWindow = 8;

struct Scan {
  const char* text;
  size_t length;
  size_t at;
  char peek() const { return at < length ? text[at] : '\0'; }
};

// A token character: visible ASCII other than the separators.
bool tokenChar(char c) {
  return c > ' ' && c < 127 && strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

// Reads a token into out (NUL-terminated, at most kTokenMax characters);
// false when there is none or it is too long.
bool readToken(Scan& scan, char (&out)[kTokenMax + 1]) {
  size_t n = 0;
  while (tokenChar(scan.peek())) {
    if (n == kTokenMax) return false;
    out[n++] = scan.peek();
    scan.at++;
  }
  out[n] = '\0';
  return n > 0;
}

// Reads a value: a token, or a quoted string whose content (escapes
// resolved) must itself be a token.
bool readValue(Scan& scan, char (&out)[kTokenMax + 1]) {
  if (scan.peek() != '"') return readToken(scan, out);
  scan.at++;
  size_t n = 0;
  for (;;) {
    char c = scan.peek();
    if (c == '\0') return false;  // unterminated
    scan.at++;
    if (c == '"') break;
    if (c == '\\') {
      c = scan.peek();
      if (c == '\0') return false;
      scan.at++;
    }
    if (n == kTokenMax || !tokenChar(c)) return false;
    out[n++] = c;
  }
  out[n] = '\0';
  return n > 0;
}

// A window size of 8 to 15 written without leading zeros.
bool windowBits(const char* value) {
  const size_t n = strlen(value);
  if (n == 0 || n > 2 || value[0] == '0') return false;
  int bits = 0;
  for (size_t i = 0; i < n; ++i) {
    if (value[i] < '0' || value[i] > '9') return false;
    bits = bits * 10 + (value[i] - '0');
  }
  return bits >= kWindowBitsMin && bits <= kWindowBitsMax;
}

// Skips to just past the comma that ends the current offer (or to the end),
// stepping over quoted strings.
void skipOffer(Scan& scan) {
  bool quoted = false;
  while (scan.peek() != '\0') {
    const char c = scan.peek();
    scan.at++;
    if (quoted && c == '\\' && scan.peek() != '\0') {
      scan.at++;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      return;
    }
  }
}

// Reads the parameters of one offer of the extension, up to the comma that
// ends it; the terms it can be accepted on, or kOfferNone.
int readDeflateOffer(Scan& scan) {
  unsigned seen = 0;
  int terms = kOfferAccepted;
  while (scan.peek() == ';') {
    scan.at++;
    char name[kTokenMax + 1];
    char value[kTokenMax + 1] = "";
    if (!readToken(scan, name)) return kOfferNone;
    const bool hasValue = scan.peek() == '=';
    if (hasValue) {
      scan.at++;
      if (!readValue(scan, value)) return kOfferNone;
    }
    unsigned bit = 0;
    if (strcmp(name, "server_no_context_takeover") == 0) {
      bit = kServerNoTakeover;
      if (hasValue) return kOfferNone;
    } else if (strcmp(name, "client_no_context_takeover") == 0) {
      bit = kClientNoTakeover;
      if (hasValue) return kOfferNone;
    } else if (strcmp(name, "server_max_window_bits") == 0) {
      // The server compresses with a 15-bit window: a smaller limit cannot be
      // honoured, 15 must be confirmed.
      bit = kServerWindow;
      if (!hasValue || !windowBits(value)) return kOfferNone;
      if (strcmp(value, "15") != 0) return kOfferNone;
      terms = kOfferAcceptedWindow15;
    } else if (strcmp(name, "client_max_window_bits") == 0) {
      // The browser may use any window: the server inflates with the largest.
      bit = kClientWindow;
      if (hasValue && !windowBits(value)) return kOfferNone;
    } else {
      return kOfferNone;
    }
    if ((seen & bit) != 0) return kOfferNone;
    seen |= bit;
  }
  const char end = scan.peek();
  return end == ',' || end == '\0' ? terms : kOfferNone;
}

}  // namespace

int chooseDeflateOffer(const char* offers, size_t length) {
  if (offers == nullptr) return kOfferNone;
  Scan scan{offers, strnlen(offers, length), 0};
  while (scan.peek() != '\0') {
    char name[kTokenMax + 1];
    const size_t start = scan.at;
    if (readToken(scan, name) && strcmp(name, kExtensionName) == 0) {
      const int terms = readDeflateOffer(scan);
      if (terms != kOfferNone) return terms;
    }
    scan.at = start;
    skipOffer(scan);
  }
  return kOfferNone;
}

int addAcceptedExtension(char* reply, int replyLen, size_t replySize, int terms) {
  static constexpr char kLine[] =
      "Sec-WebSocket-Extensions: permessage-deflate; server_no_context_takeover; "
      "client_no_context_takeover";
  static constexpr char kWindow15[] = "; server_max_window_bits=15";
  if (terms == kOfferNone) return replyLen;
  char line[sizeof kLine + sizeof kWindow15];
  memcpy(line, kLine, sizeof kLine);
  if (terms == kOfferAcceptedWindow15) memcpy(line + sizeof kLine - 1, kWindow15, sizeof kWindow15);
  return addReplyLine(reply, replyLen, replySize, line);
}

int addReplyLine(char* reply, int replyLen, size_t replySize, const char* line) {
  static constexpr char kEnd[] = "\r\n\r\n";
  constexpr size_t kEndLength = sizeof kEnd - 1;
  if (replyLen < int(kEndLength)) return replyLen;
  const size_t head = size_t(replyLen) - kEndLength + 2;  // keeps the last header's CR LF
  const size_t added = strlen(line);
  if (head + added + kEndLength >= replySize) return replyLen;  // with the NUL
  memcpy(reply + head, line, added + 1);                        // with its NUL, then
  memcpy(reply + head + added, kEnd, sizeof kEnd);              // the end over it, with the NUL
  return int(head + added + kEndLength);
}
