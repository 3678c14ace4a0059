// The route table's phases on a table of the test's own, of the kinds of row
// the front door may hold: a path prefix, a POST with a small body under the
// strict origin rule, a row that presses and one that only reads. Each case
// says which row answered (or which phase stopped the request) and what the
// handler was given.
#include "door/routes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "door/access_key.h"
#include "door/origin_policy.h"
#include "support/test_support.h"

namespace {

// What the last handler was given.
struct Seen {
  int row = -1;
  std::string rest, body;
  int access = -1;
  bool head = false;
};
Seen seen;

template <int kRow>
HttpAnswer note(const RouteCall& call) {
  seen = {kRow, std::string(call.rest.text, size_t(call.rest.length)),
          std::string(call.body.text, size_t(call.body.length)), call.access, call.head};
  return textAnswer(200, "OK", "noted");
}

constexpr Route kTable[] = {
    {.method = "POST",
     .path = "/lamps/*",
     .origin = RouteOrigin::kStrict,
     .access = RouteAccess::kPress,
     .bodyMost = 16,
     .handler = note<0>},
    {.path = "/lamps/*", .access = RouteAccess::kRead, .handler = note<1>},
    {.path = "/secret", .keyOnly = true, .handler = note<2>},
    {.origin = RouteOrigin::kUpgrade,
     .access = RouteAccess::kRead,
     .upgrade = true,
     .handler =
         [](const RouteCall& call) {
           note<3>(call);
           return HttpAnswer{};
         }},
    {.handler = note<4>},
};

constexpr const char* kUpgrade =
    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

// Routes the text as a whole first read, from a loopback peer.
RouteOutcome routed(const std::string& text, bool keyOn = false) {
  static uint8_t room[1024];
  memcpy(room, text.data(), text.size());
  seen = {};
  const HttpRequest request = readHttpRequest(room, int(text.size()));
  Peer peer;
  peer.loopback = true;
  return routeRequest(kTable, request,
                      {-1, {room, int(text.size()), int(sizeof room)}, peer, keyOn});
}

std::string post(const std::string& path, const std::string& headers, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\n" + headers + "\r\n" + body;
}

}  // namespace

TEST(Routes, EachPhaseEndsTheRequestsItMustAndTheRowGetsTheRest) {
  const struct {
    const char* what;
    std::string request;
    int status;
    int row;  // the handler that ran, -1 none
    const char* rest;
    const char* body;
  } cases[] = {
      {"a prefix row takes the rest of the path", "GET /lamps/porch?on=1 HTTP/1.1\r\n\r\n", 200, 1,
       "porch", ""},
      {"the prefix without its slash is another path", "GET /lamps HTTP/1.1\r\n\r\n", 200, 4,
       "/lamps", ""},
      {"a HEAD takes the GET row", "HEAD /lamps/a HTTP/1.1\r\n\r\n", 200, 1, "a", ""},
      {"a POST with its body", post("/lamps/a", "Content-Length: 3\r\n", "v=1"), 200, 0, "a",
       "v=1"},
      {"a POST without a length", post("/lamps/a", "", "v=1"), 411, -1, "", ""},
      {"a POST over the row's body", post("/lamps/a", "Content-Length: 17\r\n", ""), 413, -1, "",
       ""},
      {"a POST with two lengths",
       post("/lamps/a", "Content-Length: 1\r\nContent-Length: 1\r\n", "v"), 413, -1, "", ""},
      {"a POST from a sandboxed frame",
       post("/lamps/a", "Origin: null\r\nContent-Length: 1\r\n", "v"), 403, -1, "", ""},
      {"a POST no row takes", post("/other", "Content-Length: 1\r\n", "v"), 405, -1, "", ""},
      {"a method no row takes", "PUT /lamps/a HTTP/1.1\r\n\r\n", 405, -1, "", ""},
      {"cut headers", "GET /lamps/a HTTP/1.1\r\nHost: x\r\n", 431, -1, "", ""},
      {"a key's row without a key", "GET /secret HTTP/1.1\r\n\r\n", 200, 4, "/secret", ""},
      {"an upgrade on a path no row before it takes",
       "GET /any HTTP/1.1\r\n" + std::string(kUpgrade) + "\r\n", 0, 3, "/any", ""},
      {"an upgrade from another site",
       "GET / HTTP/1.1\r\nHost: 10.0.0.5\r\nOrigin: http://example.com\r\n" +
           std::string(kUpgrade) + "\r\n",
       403, -1, "", ""},
      {"not a request is an upgrade", "hello", 0, 3, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RouteOutcome outcome = routed(c.request);
    EXPECT_EQ(outcome.answer.status, c.status);
    EXPECT_EQ(seen.row, c.row);
    if (c.row < 0) continue;
    EXPECT_EQ(seen.rest, c.rest);
    EXPECT_EQ(seen.body, c.body);
    EXPECT_EQ(seen.access, kAccessControl) << "without a key everyone may do everything";
  }
  EXPECT_EQ(routed("HEAD /lamps/a HTTP/1.1\r\n\r\n").answer.status, 200);
  EXPECT_TRUE(seen.head);
  EXPECT_NE(routed(post("/lamps/a", "Origin: null\r\nContent-Length: 1\r\n", "v")).answer.refusal,
            kOriginAccepted);
}

TEST(Routes, WithAKeyAViewSessionReadsButDoesNotPress) {
  const std::string file = tempPath("route-keys");
  const std::string control = makeAccessKey(file);
  const std::string view = makeAccessKey(file, true);
  ASSERT_FALSE(view.empty());
  ASSERT_EQ(useKeyFile(file.c_str()), kKeyFileRead);
  const std::string press = "Content-Length: 1\r\nAuthorization: Bearer ";
  const struct {
    const char* what;
    std::string request;
    int status;
    int row;
    int access;
  } cases[] = {
      {"the view key reads", "GET /lamps/a HTTP/1.1\r\nAuthorization: Bearer " + view + "\r\n\r\n",
       200, 1, kAccessView},
      {"the view key may not press", post("/lamps/a", press + view + "\r\n", "v"), 403, -1, -1},
      {"the control key presses", post("/lamps/a", press + control + "\r\n", "v"), 200, 0,
       kAccessControl},
      {"no key reads nothing", "GET /lamps/a HTTP/1.1\r\n\r\n", 401, -1, -1},
      {"a key's row with a key", "GET /secret HTTP/1.1\r\n\r\n", 200, 2, kAccessNone},
      {"a row for anyone", "GET /page HTTP/1.1\r\n\r\n", 200, 4, kAccessNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(routed(c.request, true).answer.status, c.status);
    EXPECT_EQ(seen.row, c.row);
    EXPECT_EQ(seen.access, c.access);
  }
  useKeyFile(nullptr);
}
