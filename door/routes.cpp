// Routing a request through the table's phases: the row, the origin rule,
// the access, the body, the handler. Each phase either passes the request
// on or gives the answer that ends it.
#include "door/routes.h"

#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "door/access_key.h"
#include "door/http_access.h"
#include "door/origin_policy.h"
#include "net/socket_io.h"

namespace {

// True when the row's path takes the request's; *rest is what follows a
// prefix row's prefix.
bool pathMatches(const Route& route, TextSpan path, TextSpan* rest) {
  const int length = int(strlen(route.path));
  if (length > 0 && route.path[length - 1] == '*') {
    const int prefix = length - 1;
    if (path.length < prefix || memcmp(path.text, route.path, size_t(prefix)) != 0) return false;
    *rest = {path.text + prefix, path.length - prefix};
    return true;
  }
  *rest = {};
  return spanEquals(path, route.path);
}

bool methodMatches(const Route& route, const HttpRequest& request) {
  if (route.upgrade) return spanIs(request.method, "GET") && isUpgradeRequest(request);
  if (spanIs(request.method, route.method)) return true;
  return spanIs(request.method, "HEAD") && strcmp(route.method, "GET") == 0;
}

const Route* upgradeRow(std::span<const Route> routes) {
  for (const Route& route : routes) {
    if (route.upgrade) return &route;
  }
  return nullptr;
}

// The row that takes the request, or null with the answer for none: 431
// when a row would have taken it with its headers whole (an upgrade row
// takes a cut request: the origin policy judges it), else 405.
const Route* findRow(std::span<const Route> routes, const HttpRequest& request, bool keyOn,
                     TextSpan* rest, HttpAnswer* none) {
  bool cut = false;
  for (const Route& route : routes) {
    if ((route.keyOnly && !keyOn) || !methodMatches(route, request) ||
        !pathMatches(route, request.path, rest)) {
      continue;
    }
    if (route.upgrade || request.headersComplete) return &route;
    cut = true;
  }
  if (cut) {
    *none = textAnswer(431, "Request Header Fields Too Large", "request headers too long");
    none->headOnly = spanIs(request.method, "HEAD");
  } else {
    *none = textAnswer(405, "Method Not Allowed", "method not allowed");
    snprintf(none->extra, sizeof none->extra, "Allow: GET, HEAD\r\n");
  }
  return nullptr;
}

// The row's origin rule: kOriginAccepted or the refusal's reason.
int originRefusal(const Route& route, const HttpRequest& request, bool peerOnLoopback) {
  switch (route.origin) {
    case RouteOrigin::kUpgrade: return checkOrigin(request, peerOnLoopback);
    case RouteOrigin::kStrict: return checkLoginOrigin(request, peerOnLoopback);
    case RouteOrigin::kNone: break;
  }
  return kOriginAccepted;
}

// Reads the rest of a body of `length` bytes after the headers into the
// first read's room; false when it is not all there kBodyWaitMs after the
// headers, however it trickles in.
bool readBody(int sock, const HttpRequest& request, FirstRead read, int length) {
  const int needed = request.bodyStart + length;
  const int64_t deadline = monotonicMs() + kBodyWaitMs;
  while (read.length < needed) {
    const int64_t left = deadline - monotonicMs();
    if (left <= 0) return false;
    uint8_t closed = 0;
    const int wait = int(left < kSocketWaitMicros / 1000 ? left : kSocketWaitMicros / 1000);
    const int got =
        wssRdOnce(sock, read.bytes + read.length, needed - read.length, wait * 1000, &closed);
    if (got == kSocketError || (got < 0 && closed != 0)) return false;
    if (got > 0) read.length += got;
  }
  return true;
}

// The body phase of a row that takes one: the body, or the 411, 413 or 408
// that ends the request.
HttpAnswer takeBody(const Route& route, const HttpRequest& request, const RouteContext& context,
                    TextSpan* body) {
  if (request.contentLength.count == 0)
    return textAnswer(411, "Length Required", "length required");
  const int length = contentLengthOf(request.contentLength.value, route.bodyMost);
  if (request.contentLength.count > 1 || length < 0 ||
      request.bodyStart + length > context.read.capacity) {
    return textAnswer(413, "Content Too Large", "body too large");
  }
  if (!readBody(context.sock, request, context.read, length)) {
    return textAnswer(408, "Request Timeout", "body not received");
  }
  *body = {reinterpret_cast<const char*>(context.read.bytes) + request.bodyStart, length};
  return {};
}

}  // namespace

bool isUpgradeRequest(const HttpRequest& request) {
  return spanHas(request.upgrade.value, "websocket") || request.key.count > 0;
}

RouteOutcome routeRequest(std::span<const Route> routes, const HttpRequest& request,
                          const RouteContext& context) {
  RouteOutcome outcome{{}, nullptr, context.keyOn ? kAccessNone : kAccessControl};
  TextSpan rest;
  const Route* route = request.isHttp
                           ? findRow(routes, request, context.keyOn, &rest, &outcome.answer)
                           : upgradeRow(routes);
  if (route == nullptr) return outcome;
  outcome.route = route;
  if (request.isHttp) {
    const int refusal = originRefusal(*route, request, context.peer.loopback);
    if (refusal != kOriginAccepted) {
      outcome.answer = textAnswer(403, "Forbidden", originRefusalText(refusal));
      outcome.answer.refusal = refusal;
      return outcome;
    }
  }
  if (context.keyOn && route->access != RouteAccess::kAnyone) {
    outcome.answer = admitAnswer(request, context.read, context.peer, &outcome.access);
    if (outcome.answer.status != 0) return outcome;
    if (route->access == RouteAccess::kPress && outcome.access != kAccessControl) {
      outcome.answer = textAnswer(403, "Forbidden", "view access only");
      return outcome;
    }
  }
  TextSpan body;
  if (route->bodyMost > 0) {
    outcome.answer = takeBody(*route, request, context, &body);
    if (outcome.answer.status != 0) return outcome;
  }
  const RouteCall call{context.sock,
                       request,
                       context.read,
                       context.peer,
                       context.keyOn,
                       outcome.access,
                       spanIs(request.method, "HEAD"),
                       rest,
                       body};
  outcome.answer = route->handler(call);
  return outcome;
}
