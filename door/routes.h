// The front door's routes: one table of rows, each naming a method and a
// path, the origin rule and the access a request must pass, the largest body
// it may carry and the handler that answers it. A request is routed in
// phases, the same for every row: the row is found (a request whose headers
// are cut gets 431 instead of a row that needs them whole, and one no row
// takes gets 405), then the row's origin rule runs, then its access (only
// while an access key is in use), then its body is read, and only then its
// handler answers. Adding a route is one row of the table (door/front_door.cpp).
#pragma once

#include <cstdint>
#include <span>

#include "door/http_answer.h"
#include "door/http_request.h"
#include "door/peer_address.h"

// Who may use a route while an access key is in use (without one, everyone
// may do everything).
enum class RouteAccess : uint8_t {
  kAnyone,  // no session needed: the page, its files, signing in and out
  kRead,    // a view or control session (cookie or Bearer key): may look
  kPress,   // a control session: may drive the panel
};

// The origin rule a route passes before its access (door/origin_policy.h).
enum class RouteOrigin : uint8_t {
  kNone,     // plain reads of what any page may load
  kUpgrade,  // the upgrade's policy (checkOrigin)
  kStrict,   // the stricter policy of a request that changes something
             // (checkLoginOrigin): every POST row takes it
};

// What a handler is given. `rest` is the path after a prefix row's prefix;
// `body` the body the row let in (empty for a row without one).
struct RouteCall {
  int sock;
  const HttpRequest& request;
  FirstRead read;
  const Peer& peer;
  bool keyOn;  // an access key is in use
  int access;  // kAccessView or kAccessControl once past the access phase;
               // kAccessNone on a kAnyone row while a key is in use
  bool head;   // a HEAD: the GET's headers without the body
  TextSpan rest;
  TextSpan body;
};
// The answer to write, or status 0 to go on with the upgrade.
using RouteHandler = HttpAnswer (*)(const RouteCall& call);

// A row; a row names only what differs from these defaults.
struct Route {
  const char* method = "GET";  // "GET" (which also takes HEAD) or "POST"
  const char* path = "*";      // the whole path, or a prefix followed by '*' ("*": every path)
  RouteOrigin origin = RouteOrigin::kNone;
  RouteAccess access = RouteAccess::kAnyone;
  bool keyOnly = false;  // exists only while an access key is in use
  bool upgrade = false;  // takes only a WebSocket upgrade (a GET naming one), on any of its paths
  int bodyMost = 0;      // the largest body in bytes; 0 for a request without one
  const char* refused = "";  // what a printed origin refusal calls the request
  RouteHandler handler = nullptr;
};

// A body arrives within this long after the headers, or the request gets 408.
constexpr int kBodyWaitMs = 2000;

// Where routing ended: the answer (status 0 for an upgrade to go on with),
// the row that gave it (null when no row took the request) and the access
// the request has.
struct RouteOutcome {
  HttpAnswer answer;
  const Route* route;
  int access;
};

// What the connection knows besides the request. sock is -1 where nothing
// may be read (then no row with a body may be in the table).
struct RouteContext {
  int sock;
  FirstRead read;
  Peer peer;
  bool keyOn;
};

// Routes the request through the table's phases. A first read that is not
// an HTTP request is routed as an upgrade (the table's upgrade row), without
// an origin rule: every first read was an upgrade before the page was served.
RouteOutcome routeRequest(std::span<const Route> routes, const HttpRequest& request,
                          const RouteContext& context);

// True when the request asks for a WebSocket upgrade (an Upgrade header
// naming websocket, or a Sec-WebSocket-Key line).
bool isUpgradeRequest(const HttpRequest& request);
