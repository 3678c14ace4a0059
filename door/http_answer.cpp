// Answers over plain HTTP/1.1 on the WebSocket port. The page and its files
// are compiled in; every answer says "Connection: close" and the connection
// ends after it, so a slot is held only while one answer is written.
#include "door/http_answer.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "door/origin_policy.h"
#include "net/socket_io.h"

namespace {

constexpr int kTextBound = 128;    // a short text body
constexpr int kDrainBound = 4096;  // request bytes dropped before the close
// The page's Content-Security-Policy, with room for every allowed origin.
constexpr int kPolicyBound = 640 + kOriginSourcesBound;
constexpr int kHeadBound = kPolicyBound + 384;  // the status line and headers of one answer
constexpr int kHostLongest = 100;               // a longer Host is not named in the policy

constexpr char kTextType[] = "text/plain; charset=utf-8";
constexpr char kHeadLine[] = "<head>\n";  // the page's marker line follows it
// Other answers load nothing and may be framed by no one.
constexpr char kPlainPolicy[] = "default-src 'none'; frame-ancestors 'none'";

// The page's policy: its own inline style (by digest), its own scripts (the
// served files of client/, by path), its manifest and icons, and WebSocket
// connections to the host it came from.
// That host is also named as a ws:// source, since not every browser lets
// 'self' cover WebSocket addresses; only a local name (letters, digits,
// dots, hyphens, colons, brackets) is ever written into the header. The
// origins of PANEL_ORIGINS follow as wss:// (or ws://) sources: behind a
// proxy the Host need not be the page's, and an https page needs wss://.
int pagePolicy(char* out, int size, TextSpan host) {
  const bool named = host.length > 0 && host.length <= kHostLongest;
  char listed[kOriginSourcesBound] = {};
  writeOriginSources(listed, int(sizeof listed));
  return snprintf(out, size_t(size),
                  "default-src 'none'; script-src 'self'; style-src %s; img-src 'self'; "
                  "manifest-src 'self'; connect-src 'self'%s%.*s%s; base-uri 'none'; "
                  "form-action 'none'; frame-ancestors 'none'",
                  kPageStyleSource, named ? " ws://" : "", named ? host.length : 0,
                  named ? host.text : "", listed);
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

// The body: the answer's file, with the marker line spliced in after the
// page's "<head>" line, or its text.
struct Body {
  const uint8_t* bytes = nullptr;
  int size = 0;
  int split = 0;  // where the marker goes; size when there is none
  const char* marker = "";
  int markerSize = 0;
};

}  // namespace

HttpAnswer textAnswer(int status, const char* reason, const char* text) {
  HttpAnswer answer;
  answer.status = status;
  answer.reason = reason;
  answer.type = kTextType;
  answer.text = text;
  return answer;
}

HttpAnswer servedFileAnswer(const HttpRequest& request) {
  for (int i = 0; i < kServedFileCount; ++i) {
    const ServedFile& served = kServedFiles[i];
    if (spanEquals(request.path, served.path)) {
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

int writeAnswer(int sock, const HttpAnswer& answer) {
  char text[kTextBound] = {};
  Body body;
  if (answer.file) {
    body.bytes = answer.file->bytes;
    body.size = answer.file->size;
  } else {
    body.bytes = reinterpret_cast<const uint8_t*>(text);
    body.size = snprintf(text, sizeof text, "%s\n", answer.text);
  }
  body.split = body.size;
  if (answer.marker != nullptr) {
    const void* head = memmem(body.bytes, size_t(body.size), kHeadLine, sizeof kHeadLine - 1);
    if (head != nullptr) {
      body.split = int(static_cast<const uint8_t*>(head) - body.bytes) + int(sizeof kHeadLine) - 1;
      body.marker = answer.marker;
      body.markerSize = int(strlen(answer.marker));
    }
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
                                answer.status, answer.reason, answer.type,
                                body.size + body.markerSize, policy, answer.extra);
  if (headSize <= 0 || headSize >= int(sizeof head)) return -1;
  bool sent = wssWr(sock, reinterpret_cast<const uint8_t*>(head), headSize) == headSize;
  if (!answer.headOnly) {
    sent = sent && (body.split == 0 || wssWr(sock, body.bytes, body.split) == body.split);
    sent =
        sent && (body.markerSize == 0 || wssWr(sock, reinterpret_cast<const uint8_t*>(body.marker),
                                               body.markerSize) == body.markerSize);
    const int rest = body.size - body.split;
    sent = sent && (rest == 0 || wssWr(sock, body.bytes + body.split, rest) == rest);
  }
  shutdown(sock, SHUT_WR);
  dropPending(sock);
  return sent ? 0 : -1;
}
