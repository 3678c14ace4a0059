// Login, logout, the session answer and the upgrade's credentials. A key is
// hashed on a copy of the keys with no lock held; the guessing limit is taken
// before every hash.
#include "door/http_access.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "door/access_key.h"
#include "door/guess_limit.h"
#include "door/origin_policy.h"
#include "door/session_cookie.h"
#include "server/socket_io.h"

namespace {

constexpr char kJsonType[] = "application/json";
constexpr const char* kAccessJson[] = {"{\"access\":\"none\"}", "{\"access\":\"view\"}",
                                       "{\"access\":\"control\"}"};
constexpr const char* kPageMarkers[] = {"<meta name=\"panel-access\" content=\"login\">\n",
                                        "<meta name=\"panel-access\" content=\"view\">\n",
                                        "<meta name=\"panel-access\" content=\"control\">\n"};
constexpr int kAddressText = 64;

struct Peer {
  uint8_t address[kAddressBytes] = {};  // IPv4 mapped into IPv6
  char text[kAddressText] = "unknown";
};

Peer peerOf(int sock) {
  Peer peer;
  sockaddr_storage storage = {};
  socklen_t size = sizeof storage;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&storage), &size) != 0) return peer;
  if (storage.ss_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    peer.address[10] = peer.address[11] = 0xff;
    memcpy(peer.address + 12, &in4->sin_addr, 4);
    inet_ntop(AF_INET, &in4->sin_addr, peer.text, sizeof peer.text);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    memcpy(peer.address, &in6->sin6_addr, kAddressBytes);
    inet_ntop(AF_INET6, &in6->sin6_addr, peer.text, sizeof peer.text);
  }
  return peer;
}

int64_t secondsOf(clockid_t clock) {
  timespec now = {};
  clock_gettime(clock, &now);
  return int64_t(now.tv_sec);
}

int64_t monotonicMillis() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

HttpAnswer jsonAnswer(int status, const char* reason, int access) {
  HttpAnswer answer = textAnswer(status, reason, kAccessJson[access]);
  answer.type = kJsonType;
  return answer;
}

int answered(int sock, const HttpAnswer& answer) {
  writeAnswer(sock, answer);
  return kFirstReadAnswered;
}

int refuseKey(int sock, const HttpAnswer& base) {
  HttpAnswer answer = base;
  snprintf(answer.extra, sizeof answer.extra, "WWW-Authenticate: Bearer\r\n");
  return answered(sock, answer);
}

int tooManyGuesses(int sock, const HttpAnswer& base, int64_t wait) {
  HttpAnswer answer = base;
  snprintf(answer.extra, sizeof answer.extra, "Retry-After: %lld\r\n",
           static_cast<long long>(wait));
  return answered(sock, answer);
}

int sessionAccess(const KeyFile& keys, const HttpRequest& request) {
  const TextSpan token = cookieValue(request.cookie.value, kSessionCookie);
  return checkSessionToken(keys, token.text, token.length, secondsOf(CLOCK_REALTIME));
}

// A key check under the guessing limit: the access it opens, or a negative
// wait in seconds when the limit holds.
int64_t checkUnderLimit(const KeyFile& keys, const Peer& peer, const char* key, int length) {
  const int64_t wait = takeGuess(peer.address, secondsOf(CLOCK_MONOTONIC));
  if (wait > 0) return -wait;
  const int access = checkKey(keys, key, length);
  if (access != kAccessNone) giveGuessBack(peer.address, secondsOf(CLOCK_MONOTONIC));
  return access;
}

// Reads the rest of a body of `length` bytes after the headers into the
// first read's room; false when it does not come in time.
bool readBody(int sock, const HttpRequest& request, FirstRead read, int length) {
  const int needed = request.bodyStart + length;
  const int64_t deadline = monotonicMillis() + kBodyWaitMs;
  while (read.length < needed) {
    if (monotonicMillis() > deadline) return false;
    uint8_t closed = 0;
    const int got = wssRd(sock, read.bytes + read.length, needed - read.length, &closed);
    if (got == kSocketError || (got < 0 && closed != 0)) return false;
    if (got > 0) read.length += got;
  }
  return true;
}

int login(int sock, const HttpRequest& request, FirstRead read, const Peer& peer) {
  const TextSpan lengthText = request.contentLength.value;
  if (request.contentLength.count == 0) {
    return answered(sock, textAnswer(411, "Length Required", "length required"));
  }
  const int length = contentLengthOf(lengthText, kLoginBodyMost);
  if (request.contentLength.count > 1 || length < 0 || request.bodyStart + length > read.capacity) {
    return answered(sock, textAnswer(413, "Content Too Large", "body too large"));
  }
  if (!readBody(sock, request, read, length)) {
    return answered(sock, textAnswer(408, "Request Timeout", "body not received"));
  }
  const TextSpan body = {reinterpret_cast<const char*>(read.bytes) + request.bodyStart, length};
  char key[kKeyLongest + 1] = {};
  const int keyLength = formDecode(formField(body, "key"), key, int(sizeof key));
  if (keyLength <= 0) return answered(sock, textAnswer(400, "Bad Request", "no key"));
  KeyFile keys;
  currentKeys(&keys);
  const int64_t access = checkUnderLimit(keys, peer, key, keyLength);
  OPENSSL_cleanse(key, sizeof key);
  if (access < 0) {
    printf("Refused a login from %s: too many wrong keys.\n", peer.text);
    return tooManyGuesses(sock, jsonAnswer(429, "Too Many Requests", kAccessNone), -access);
  }
  if (access == kAccessNone) {
    printf("Wrong access key from %s.\n", peer.text);
    return refuseKey(sock, jsonAnswer(401, "Unauthorized", kAccessNone));
  }
  char token[kTokenLength + 1] = {};
  makeSessionToken(keys, int(access), secondsOf(CLOCK_REALTIME), token, int(sizeof token));
  const TextSpan secure = formField(body, "secure");
  HttpAnswer answer = jsonAnswer(200, "OK", int(access));
  snprintf(answer.extra, sizeof answer.extra,
           "Set-Cookie: %s=%s; Max-Age=%lld; Path=/; HttpOnly; SameSite=Strict%s\r\n",
           kSessionCookie, token, static_cast<long long>(kSessionSeconds),
           secure.length == 1 && secure.text[0] == '1' ? "; Secure" : "");
  return answered(sock, answer);
}

int logout(int sock) {
  HttpAnswer answer = jsonAnswer(200, "OK", kAccessNone);
  snprintf(answer.extra, sizeof answer.extra,
           "Set-Cookie: %s=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict\r\n", kSessionCookie);
  return answered(sock, answer);
}

// An upgrade the origin policy let through: its cookie, else its Bearer key.
int admit(int sock, const HttpRequest& request, const Peer& peer, int* access) {
  KeyFile keys;
  currentKeys(&keys);
  *access = sessionAccess(keys, request);
  if (*access != kAccessNone) return kFirstReadUpgrade;
  const TextSpan bearer = bearerToken(request.authorization.value);
  if (bearer.length == 0) {
    printf("Refused a connection from %s: no access key.\n", peer.text);
    return refuseKey(sock, textAnswer(401, "Unauthorized", "access key needed"));
  }
  const int64_t checked = checkUnderLimit(keys, peer, bearer.text, bearer.length);
  if (checked < 0) {
    printf("Refused a connection from %s: too many wrong keys.\n", peer.text);
    return tooManyGuesses(sock, textAnswer(429, "Too Many Requests", "too many wrong keys"),
                          -checked);
  }
  if (checked == kAccessNone) {
    printf("Refused a connection from %s: wrong access key.\n", peer.text);
    return refuseKey(sock, textAnswer(401, "Unauthorized", "wrong access key"));
  }
  *access = int(checked);
  return kFirstReadUpgrade;
}

}  // namespace

int answerWithKey(int sock, const HttpRequest& request, FirstRead read, int* access) {
  *access = kAccessNone;
  const Peer peer = peerOf(sock);
  if (!request.isHttp) {
    printf("Refused a connection from %s: no access key.\n", peer.text);
    return refuseKey(sock, textAnswer(401, "Unauthorized", "access key needed"));
  }
  const bool onLoopback = request.origin.count > 0 && peerIsLoopback(sock);
  const bool post = spanIs(request.method, "POST");
  if (post && (spanEquals(request.path, "/login") || spanEquals(request.path, "/logout"))) {
    if (!request.headersComplete) {
      return answered(
          sock, textAnswer(431, "Request Header Fields Too Large", "request headers too long"));
    }
    const int refusal = checkOrigin(request, onLoopback);
    if (refusal != kOriginAccepted) {
      printf("Refused a login: %s.\n", originRefusalText(refusal));
      return answered(sock, textAnswer(403, "Forbidden", originRefusalText(refusal)));
    }
    return spanEquals(request.path, "/login") ? login(sock, request, read, peer) : logout(sock);
  }
  const bool head = spanIs(request.method, "HEAD");
  if ((head || spanIs(request.method, "GET")) && spanEquals(request.path, "/session") &&
      request.headersComplete) {
    KeyFile keys;
    currentKeys(&keys);
    HttpAnswer answer = jsonAnswer(200, "OK", sessionAccess(keys, request));
    answer.headOnly = head;
    return answered(sock, answer);
  }
  HttpAnswer answer = answerFor(request, onLoopback);
  if (answer.status == 0) return admit(sock, request, peer, access);
  if (answer.refusal != 0) printf("Refused a connection: %s.\n", originRefusalText(answer.refusal));
  if (answer.file == &kPageFile) {
    KeyFile keys;
    currentKeys(&keys);
    answer.marker = kPageMarkers[sessionAccess(keys, request)];
  }
  return answered(sock, answer);
}
