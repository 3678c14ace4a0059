// Routing a first read through the origin policy, the access key and the
// answers. Without a key every request gets its answer from the policy and
// the served files; with one, the key's own paths (/login, /logout,
// /session) come first, an upgrade must also show a cookie or the key, and
// the page learns the session it is opened under.
#include "door/front_door.h"

#include <openssl/crypto.h>

#include <cstdio>

#include "door/access_key.h"
#include "door/http_access.h"
#include "door/origin_policy.h"

namespace {

// Writes the answer, then clears its extra lines: a new session token is
// kept no longer than it takes to send it.
int answered(int sock, HttpAnswer answer) {
  writeAnswer(sock, answer);
  OPENSSL_cleanse(answer.extra, sizeof answer.extra);
  return kFirstReadAnswered;
}

void printRefusal(const HttpAnswer& answer) {
  if (answer.refusal != 0) printf("Refused a connection: %s.\n", originRefusalText(answer.refusal));
}

bool isKeyPath(const HttpRequest& request) {
  return spanEquals(request.path, "/login") || spanEquals(request.path, "/logout");
}

int answerWithKey(int sock, const HttpRequest& request, FirstRead read, const Peer& peer,
                  int* access) {
  *access = kAccessNone;
  if (!request.isHttp) return answered(sock, keyNeededAnswer(peer));
  if (spanIs(request.method, "POST") && isKeyPath(request)) {
    if (!request.headersComplete) {
      return answered(
          sock, textAnswer(431, "Request Header Fields Too Large", "request headers too long"));
    }
    const int refusal = checkLoginOrigin(request, peer.loopback);
    if (refusal != kOriginAccepted) {
      printf("Refused a login: %s.\n", originRefusalText(refusal));
      return answered(sock, textAnswer(403, "Forbidden", originRefusalText(refusal)));
    }
    return answered(sock, spanEquals(request.path, "/login")
                              ? loginAnswer(sock, request, read, peer)
                              : logoutAnswer());
  }
  const bool head = spanIs(request.method, "HEAD");
  if ((head || spanIs(request.method, "GET")) && spanEquals(request.path, "/session") &&
      request.headersComplete) {
    return answered(sock, sessionAnswer(request, head));
  }
  HttpAnswer answer = answerFor(request, peer.loopback);
  if (answer.status == 0) {
    const HttpAnswer refused = admitAnswer(request, read, peer, access);
    return refused.status == 0 ? kFirstReadUpgrade : answered(sock, refused);
  }
  printRefusal(answer);
  if (answer.file == &kPageFile) answer.marker = pageMarker(request);
  return answered(sock, answer);
}

}  // namespace

int answerHttp(int sock, const HttpRequest& request, FirstRead read, const Peer& connected,
               int* access) {
  const Peer peer = clientOf(connected, request, trustedProxies);
  if (accessKeyOn()) return answerWithKey(sock, request, read, peer, access);
  *access = kAccessControl;
  const HttpAnswer answer = answerFor(request, peer.loopback);
  if (answer.status == 0) return kFirstReadUpgrade;
  printRefusal(answer);
  return answered(sock, answer);
}
