// Login, logout, the session answer and the upgrade's credentials. A key is
// hashed on a copy of the keys with no lock held; the guessing limit is taken
// before every hash.
#include "door/http_access.h"

#include <openssl/crypto.h>
#include <time.h>

#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "door/access_key.h"
#include "door/guess_limit.h"
#include "door/session_cookie.h"

namespace {

constexpr char kJsonType[] = "application/json";
constexpr const char* kAccessJson[] = {"{\"access\":\"none\"}", "{\"access\":\"view\"}",
                                       "{\"access\":\"control\"}"};
constexpr const char* kPageMarkers[] = {"<meta name=\"panel-access\" content=\"login\">\n",
                                        "<meta name=\"panel-access\" content=\"view\">\n",
                                        "<meta name=\"panel-access\" content=\"control\">\n"};
static_assert(kPeerAddressBytes == kAddressBytes, "the limit counts by the peer's address");

// The date in seconds: a session token carries when it was issued, which
// holds across restarts, so this is the realtime clock, not the monotonic one.
int64_t dateSeconds() {
  timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t(now.tv_sec);
}

HttpAnswer jsonAnswer(int status, const char* reason, int access) {
  HttpAnswer answer = textAnswer(status, reason, kAccessJson[access]);
  answer.type = kJsonType;
  return answer;
}

HttpAnswer askForKey(const HttpAnswer& base) {
  HttpAnswer answer = base;
  snprintf(answer.extra, sizeof answer.extra, "WWW-Authenticate: Bearer\r\n");
  return answer;
}

HttpAnswer tooManyGuesses(const HttpAnswer& base, int64_t wait) {
  HttpAnswer answer = base;
  snprintf(answer.extra, sizeof answer.extra, "Retry-After: %lld\r\n",
           static_cast<long long>(wait));
  return answer;
}

int sessionAccess(const KeyFile& keys, const HttpRequest& request) {
  const TextSpan token = cookieValue(request.cookie.value, kSessionCookie);
  return checkSessionToken(keys, token.text, token.length, dateSeconds());
}

// A key check under the guessing limit: the access it opens, or a negative
// wait in seconds when the limit holds.
int64_t checkUnderLimit(const KeyFile& keys, const Peer& peer, const char* key, int length) {
  const int64_t wait = takeGuess(peer.address, monotonicMs());
  if (wait > 0) return -wait;
  const int access = checkKey(keys, key, length);
  if (access != kAccessNone) giveGuessBack(peer.address, monotonicMs());
  return access;
}

// Clears the bytes of the first read that the span covers: a key must not
// stay in the receive buffer past its check.
void clearInRead(FirstRead read, TextSpan span) {
  const auto* at = reinterpret_cast<const uint8_t*>(span.text);
  if (span.length <= 0 || at < read.bytes || at + span.length > read.bytes + read.capacity) return;
  OPENSSL_cleanse(read.bytes + (at - read.bytes), size_t(span.length));
}

}  // namespace

HttpAnswer loginAnswer(FirstRead read, TextSpan body, const Peer& peer) {
  const TextSpan secure = formField(body, "secure");
  const bool secureCookie = secure.length == 1 && secure.text[0] == '1';
  char key[kKeyLongest + 1] = {};
  const int keyLength = formDecode(formField(body, "key"), key, int(sizeof key));
  clearInRead(read, body);
  if (keyLength <= 0) {
    OPENSSL_cleanse(key, sizeof key);
    return textAnswer(400, "Bad Request", "no key");
  }
  KeyFile keys;
  currentKeys(&keys);
  const int64_t access = checkUnderLimit(keys, peer, key, keyLength);
  OPENSSL_cleanse(key, sizeof key);
  if (access < 0) {
    printf("Refused a login from %s: too many wrong keys.\n", peer.text);
    return tooManyGuesses(jsonAnswer(429, "Too Many Requests", kAccessNone), -access);
  }
  if (access == kAccessNone) {
    printf("Wrong access key from %s.\n", peer.text);
    return askForKey(jsonAnswer(401, "Unauthorized", kAccessNone));
  }
  char token[kTokenLength + 1] = {};
  if (makeSessionToken(keys, int(access), dateSeconds(), token, int(sizeof token)) < 0) {
    // No secret to sign with: a right key must not look like a session made.
    printf("No session could be made for %s.\n", peer.text);
    return textAnswer(503, "Service Unavailable", "no session");
  }
  HttpAnswer answer = jsonAnswer(200, "OK", int(access));
  snprintf(answer.extra, sizeof answer.extra,
           "Set-Cookie: %s=%s; Max-Age=%lld; Path=/; HttpOnly; SameSite=Strict%s\r\n",
           kSessionCookie, token, static_cast<long long>(kSessionSeconds),
           secureCookie ? "; Secure" : "");
  OPENSSL_cleanse(token, sizeof token);
  return answer;
}

HttpAnswer logoutAnswer() {
  HttpAnswer answer = jsonAnswer(200, "OK", kAccessNone);
  snprintf(answer.extra, sizeof answer.extra,
           "Set-Cookie: %s=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict\r\n", kSessionCookie);
  return answer;
}

HttpAnswer sessionAnswer(const HttpRequest& request, bool headOnly) {
  KeyFile keys;
  currentKeys(&keys);
  HttpAnswer answer = jsonAnswer(200, "OK", sessionAccess(keys, request));
  answer.headOnly = headOnly;
  return answer;
}

HttpAnswer admitAnswer(const HttpRequest& request, FirstRead read, const Peer& peer, int* access) {
  KeyFile keys;
  currentKeys(&keys);
  *access = sessionAccess(keys, request);
  if (*access != kAccessNone) return {};
  const TextSpan bearer = bearerToken(request.authorization.value);
  if (bearer.length == 0) return keyNeededAnswer(peer);
  const int64_t checked = checkUnderLimit(keys, peer, bearer.text, bearer.length);
  clearInRead(read, request.authorization.value);
  if (checked < 0) {
    printf("Refused a connection from %s: too many wrong keys.\n", peer.text);
    return tooManyGuesses(textAnswer(429, "Too Many Requests", "too many wrong keys"), -checked);
  }
  if (checked == kAccessNone) {
    printf("Refused a connection from %s: wrong access key.\n", peer.text);
    return askForKey(textAnswer(401, "Unauthorized", "wrong access key"));
  }
  *access = int(checked);
  return {};
}

HttpAnswer keyNeededAnswer(const Peer& peer) {
  printf("Refused a connection from %s: no access key.\n", peer.text);
  return askForKey(textAnswer(401, "Unauthorized", "access key needed"));
}

const char* pageMarker(const HttpRequest& request) {
  KeyFile keys;
  currentKeys(&keys);
  return kPageMarkers[sessionAccess(keys, request)];
}
