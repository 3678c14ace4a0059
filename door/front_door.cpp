// A connection's first read and the front door's route table. Without a key
// every request gets its answer from the origin policy and the served files;
// with one, the key's own paths (/login, /logout, /session) come first, an
// upgrade must also show a cookie or the key, and the page learns the
// session it is opened under.
#include "door/front_door.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "door/access_key.h"
#include "door/http_access.h"
#include "door/origin_policy.h"
#include "door/routes.h"
#include "net/bounded_log.h"
#include "net/socket_io.h"

namespace {

// Writes the answer, then clears its extra lines: a new session token is
// kept no longer than it takes to send it.
int answered(int sock, HttpAnswer answer) {
  writeAnswer(sock, answer);
  OPENSSL_cleanse(answer.extra, sizeof answer.extra);
  return kFirstReadAnswered;
}

// The rows' handlers: each answers a request that passed its row's phases.

HttpAnswer upgradeRoute(const RouteCall& /*call*/) {
  return {};
}

// The page and its files; while a key is in use, the page learns the
// session it is opened under.
HttpAnswer fileRoute(const RouteCall& call) {
  HttpAnswer answer = servedFileAnswer(call.request);
  answer.headOnly = call.head;
  if (call.keyOn && answer.file == &kPageFile) answer.marker = pageMarker(call.request);
  return answer;
}

HttpAnswer loginRoute(const RouteCall& call) {
  return loginAnswer(call.read, call.body, call.peer);
}

HttpAnswer logoutRoute(const RouteCall& call) {
  return logoutAnswer(call.request);
}

HttpAnswer sessionRoute(const RouteCall& call) {
  return sessionAnswer(call.request, call.head);
}

// The front door's one table, tried in order: the first row whose method
// and path take the request routes it.
constexpr Route kRoutes[] = {
    {.method = "POST",
     .path = "/login",
     .origin = RouteOrigin::kStrict,
     .keyOnly = true,
     .bodyMost = kLoginBodyMost,
     .refused = "login",
     .handler = loginRoute},
    {.method = "POST",
     .path = "/logout",
     .origin = RouteOrigin::kStrict,
     .keyOnly = true,
     .refused = "login",
     .handler = logoutRoute},
    {.path = "/session", .keyOnly = true, .handler = sessionRoute},
    // A WebSocket upgrade, on any path; a view session's reports are dropped.
    {.origin = RouteOrigin::kUpgrade,
     .access = RouteAccess::kRead,
     .upgrade = true,
     .refused = "connection",
     .handler = upgradeRoute},
    {.handler = fileRoute},
};

static_assert(std::ranges::all_of(kRoutes, [](const Route& row) { return row.handler != nullptr; }),
              "every row has its handler");
// The table with the rows of the layers above (addPanelRoutes) put before
// its last row, which takes every other GET.
constexpr int kPanelRoutesMost = 8;
Route routeTable[std::size(kRoutes) + kPanelRoutesMost];
size_t routeCount = 0;  // 0 while no rows were added: kRoutes alone

std::span<const Route> currentRoutes() {
  if (routeCount == 0) return kRoutes;
  return {routeTable, routeCount};
}

RouteOutcome route(int sock, const HttpRequest& request, FirstRead read, const Peer& peer,
                   bool keyOn) {
  return routeRequest(currentRoutes(), request, RouteContext{sock, read, peer, keyOn});
}

}  // namespace

int answerHttp(int sock, const HttpRequest& request, FirstRead read, const Peer& connected,
               int* access) {
  const Peer peer = clientOf(connected, request, trustedProxies);
  const RouteOutcome outcome = route(sock, request, read, peer, accessKeyOn());
  *access = outcome.access;
  if (outcome.answer.status == 0) return kFirstReadUpgrade;
  if (outcome.answer.refusal != 0) {
    logLine(kLogOriginRefused - outcome.answer.refusal, "Refused a %s: %s.\n",
            outcome.route->refused, originRefusalText(outcome.answer.refusal));
  }
  return answered(sock, outcome.answer);
}

int addPanelRoutes(std::span<const Route> rows) {
  if (rows.size() > size_t(kPanelRoutesMost)) return -1;
  const size_t before = std::size(kRoutes) - 1;
  std::copy(kRoutes, kRoutes + before, routeTable);
  std::copy(rows.begin(), rows.end(), routeTable + before);
  routeTable[before + rows.size()] = kRoutes[before];
  routeCount = before + rows.size() + 1;
  return 0;
}

HttpAnswer answerFor(const HttpRequest& request, bool peerOnLoopback) {
  Peer peer;
  peer.loopback = peerOnLoopback;
  return route(-1, request, FirstRead{nullptr, 0, 0}, peer, false).answer;
}
