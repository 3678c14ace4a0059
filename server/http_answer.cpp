// Answers over plain HTTP/1.1 on the WebSocket port. The page and its files
// are compiled in; every answer says "Connection: close" and the connection
// ends after it, so a slot is held only while one answer is written.
#include "server/http_answer.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "server/origin_policy.h"
#include "server/socket_io.h"

namespace {

constexpr int kHeadBound = 1024;   // the status line and headers of one answer
constexpr int kTextBound = 128;    // a short text body
constexpr int kDrainBound = 4096;  // request bytes dropped before the close
constexpr int kPolicyBound = 640;  // the page's Content-Security-Policy
constexpr int kHostLongest = 100;  // a longer Host is not named in the policy

constexpr char kTextType[] = "text/plain; charset=utf-8";
// Other answers load nothing and may be framed by no one.
constexpr char kPlainPolicy[] = "default-src 'none'; frame-ancestors 'none'";

struct ServedPath {
  const char* path;
  const char* type;
  const EmbeddedFile* file;
};

constexpr ServedPath kServedPaths[] = {
    {"/", "text/html; charset=utf-8", &kPageFile},
    {"/index.html", "text/html; charset=utf-8", &kPageFile},
    {"/manifest.json", "application/manifest+json", &kManifestFile},
    {"/icon.svg", "image/svg+xml", &kIconSvgFile},
    {"/icon.png", "image/png", &kIconPngFile},
    {"/changes.js", "text/javascript; charset=utf-8", &kChangesScriptFile},
};

bool isUpgrade(const HttpRequest& request) {
  return spanHas(request.upgrade.value, "websocket") || request.key.count > 0;
}

HttpAnswer textAnswer(int status, const char* reason, const char* text) {
  HttpAnswer answer;
  answer.status = status;
  answer.reason = reason;
  answer.type = kTextType;
  answer.text = text;
  return answer;
}

// The page's policy: its own inline style and script (by digest), its
// manifest and icons, and WebSocket connections to the host it came from.
// That host is also named as a ws:// source, since not every browser lets
// 'self' cover WebSocket addresses; only a local name (letters, digits,
// dots, hyphens, colons, brackets) is ever written into the header.
int pagePolicy(char* out, int size, TextSpan host) {
  const bool named = host.length > 0 && host.length <= kHostLongest;
  return snprintf(out, size_t(size),
                  "default-src 'none'; script-src %s; style-src %s; img-src 'self'; "
                  "manifest-src 'self'; connect-src 'self'%s%.*s; base-uri 'none'; "
                  "form-action 'none'; frame-ancestors 'none'",
                  kPageScriptSource, kPageStyleSource, named ? " ws://" : "",
                  named ? host.length : 0, named ? host.text : "");
}

// Drops what the peer has already sent, without waiting, so closing the
// socket does not reset the connection before the answer is read.
void dropPending(int sock) {
  uint8_t sink[256];
  for (int dropped = 0; dropped < kDrainBound;) {
    const ssize_t got = recv(sock, sink, sizeof sink, MSG_DONTWAIT);
    if (got <= 0) return;
    dropped += int(got);
  }
}

int writeAnswer(int sock, const HttpAnswer& answer) {
  char body[kTextBound] = {};
  const uint8_t* bodyBytes = reinterpret_cast<const uint8_t*>(body);
  int bodySize = 0;
  if (answer.file) {
    bodyBytes = answer.file->bytes;
    bodySize = answer.file->size;
  } else {
    bodySize = snprintf(body, sizeof body, "%s\n", answer.text);
  }
  char policy[kPolicyBound] = {};
  if (answer.file == &kPageFile) {
    pagePolicy(policy, int(sizeof policy), answer.host);
  } else {
    snprintf(policy, sizeof policy, "%s", kPlainPolicy);
  }
  char head[kHeadBound] = {};
  const int headSize = snprintf(head, sizeof head,
                                "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
                                "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n"
                                "Content-Security-Policy: %s\r\nReferrer-Policy: no-referrer\r\n%s"
                                "Connection: close\r\n\r\n",
                                answer.status, answer.reason, answer.type, bodySize, policy,
                                answer.status == 405 ? "Allow: GET\r\n" : "");
  if (headSize <= 0 || headSize >= int(sizeof head)) return -1;
  const bool sent = wssWr(sock, reinterpret_cast<const uint8_t*>(head), headSize) == headSize &&
                    wssWr(sock, bodyBytes, bodySize) == bodySize;
  shutdown(sock, SHUT_WR);
  dropPending(sock);
  return sent ? 0 : -1;
}

}  // namespace

HttpAnswer answerFor(const HttpRequest& request, bool peerOnLoopback) {
  if (!request.isHttp) return {};
  if (!spanIs(request.method, "GET"))
    return textAnswer(405, "Method Not Allowed", "method not allowed");
  if (isUpgrade(request)) {
    const int refusal = checkOrigin(request, peerOnLoopback);
    if (refusal == kOriginAccepted) return {};
    HttpAnswer answer = textAnswer(403, "Forbidden", originRefusalText(refusal));
    answer.refusal = refusal;
    return answer;
  }
  if (!request.headersComplete) {
    return textAnswer(431, "Request Header Fields Too Large", "request headers too long");
  }
  for (const ServedPath& served : kServedPaths) {
    const int length = int(strlen(served.path));
    if (request.path.length == length &&
        memcmp(request.path.text, served.path, size_t(length)) == 0) {
      HttpAnswer answer;
      answer.status = 200;
      answer.reason = "OK";
      answer.type = served.type;
      answer.file = served.file;
      if (request.host.count == 1 && hostIsLocalName(request.host.value)) {
        answer.host = request.host.value;
      }
      return answer;
    }
  }
  return textAnswer(404, "Not Found", "not found");
}

int answerFirstRead(int sock, const uint8_t* bytes, int length) {
  const HttpRequest request = readHttpRequest(bytes, length);
  // Only a browser's request names an Origin; the peer is looked up for it.
  const bool onLoopback = request.origin.count > 0 && peerIsLoopback(sock);
  const HttpAnswer answer = answerFor(request, onLoopback);
  if (answer.status == 0) return kFirstReadUpgrade;
  if (answer.refusal != 0) printf("Refused a connection: %s.\n", originRefusalText(answer.refusal));
  writeAnswer(sock, answer);
  return kFirstReadAnswered;
}
