// What the first read gets: a table of requests and the answer each gets
// (the page and its files, 404, 405, 431, the origin policy's 403 or the
// upgrade), then the real server over loopback: the page's bytes are
// client/index.html, error answers end their connection, and an upgrade the
// policy accepts gets the 129-byte reply unchanged.
#include "door/http_answer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "door/origin_policy.h"
#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr const char* kUpgrade =
    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
constexpr const char* kReply =
    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
constexpr int kReplyBytes = 129;
constexpr int kAnswerMs = 3000;

// A GET of `path` with the given header lines and, unless cut, the blank line.
std::string get(const std::string& path, const std::string& headers, bool cut = false) {
  return "GET " + path + " HTTP/1.1\r\n" + headers + (cut ? "" : "\r\n");
}

std::string upgrade(const std::string& host, const std::string& origin) {
  std::string headers = kUpgrade;
  if (!host.empty()) headers += "Host: " + host + "\r\n";
  if (!origin.empty()) headers += "Origin: " + origin + "\r\n";
  return get("/", headers);
}

struct Case {
  const char* what;
  std::string request;
  bool loopback;
  int status;   // 0: the upgrade goes on
  int refusal;  // the origin policy's reason for a 403
};

HttpAnswer answerTo(const std::string& text, bool loopback) {
  return answerFor(readHttpRequest(reinterpret_cast<const uint8_t*>(text.data()), int(text.size())),
                   loopback);
}

std::string fileText(const char* path) {
  std::ifstream file(std::string(PANEL_SOURCE_DIR) + "/" + path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Sends the text on a new connection and reads until the server closes it.
std::string answerOf(uint16_t port, const std::string& text) {
  WsClient peer;
  EXPECT_TRUE(peer.connect(port));
  EXPECT_TRUE(peer.sendRaw(text));
  const std::vector<uint8_t> bytes = peer.readExact(1 << 20, kAnswerMs);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

TEST(HttpAnswer, EachFirstReadGetsItsAnswer) {
  const std::string host = "10.0.0.5:8080";
  const std::string page = "http://10.0.0.5:8080";
  const std::string longKey = std::string("Sec-WebSocket-Key: ") + std::string(900, 'k');
  const Case cases[] = {
      {"the page", get("/", "Host: " + host + "\r\n"), false, 200, 0},
      {"the page by name", get("/index.html?host=a&port=1", ""), false, 200, 0},
      {"the manifest", get("/manifest.json", ""), false, 200, 0},
      {"an icon", get("/icon.png", ""), false, 200, 0},
      {"paths keep their case", get("/Index.html", ""), false, 404, 0},
      {"another path", get("/favicon.ico", ""), false, 404, 0},
      {"another method", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", false, 405, 0},
      {"HEAD of the page", "HEAD / HTTP/1.1\r\n\r\n", false, 200, 0},
      {"HEAD of another path", "HEAD /missing HTTP/1.1\r\n\r\n", false, 404, 0},
      {"HEAD naming an upgrade", "HEAD / HTTP/1.1\r\n" + std::string(kUpgrade) + "\r\n", false, 200,
       0},
      {"a page request cut short", get("/", "Cookie: " + std::string(900, 'c'), true), false, 431,
       0},
      {"not a request line", "hello", false, 0, 0},
      {"no Origin: not a browser", upgrade("", ""), false, 0, 0},
      {"the served page", upgrade(host, page), false, 0, 0},
      {"IPv6 literal", upgrade("[fd00::5]:8080", "http://[fd00::5]:8080"), false, 0, 0},
      {"a name without dots", upgrade("panel:8080", "http://panel:8080"), false, 0, 0},
      {"a .local name", upgrade("panel.local", "http://panel.local"), false, 0, 0},
      {"names compared without case", upgrade("LocalHost:80", "http://localhost:80"), false, 0, 0},
      {"null from loopback", upgrade("127.0.0.1:8080", "null"), true, 0, 0},
      {"null from the network", upgrade(host, "null"), false, 403, kOriginNullRemote},
      {"another port", upgrade(host, "http://10.0.0.5:9000"), true, 403, kOriginForeignOrigin},
      {"another site", upgrade(host, "http://example.com"), false, 403, kOriginForeignOrigin},
      {"https page", upgrade(host, "https://10.0.0.5:8080"), false, 403, kOriginForeignOrigin},
      {"origin with a path", upgrade(host, page + "/"), false, 403, kOriginForeignOrigin},
      {"a rebound name", upgrade("rebound.example:8080", "http://rebound.example:8080"), true, 403,
       kOriginForeignHost},
      {"an address followed by a name",
       upgrade("10.0.0.5.example.com", "http://10.0.0.5.example.com"), false, 403,
       kOriginForeignHost},
      {"not an address", upgrade("10.0.0.256", "http://10.0.0.256"), false, 403,
       kOriginForeignHost},
      {".local inside a name", upgrade("a.local.example", "http://a.local.example"), false, 403,
       kOriginForeignHost},
      {"no Host", upgrade("", page), false, 403, kOriginNoHost},
      {"two Origins",
       get("/", std::string(kUpgrade) + "Host: " + host + "\r\nOrigin: " + page +
                    "\r\nOrigin: " + page + "\r\n"),
       false, 403, kOriginRepeated},
      {"header names without case",
       get("/", std::string(kUpgrade) + "host: " + host + "\r\norigin: http://example.com\r\n"),
       false, 403, kOriginForeignOrigin},
      {"a look-alike name is no Origin",
       get("/", std::string(kUpgrade) + "X-Origin: http://example.com\r\n"), false, 0, 0},
      {"cut, with a whole key and no Origin",
       get("/" + std::string(600, 'p'), std::string(kUpgrade) + "X-Pad: " + std::string(400, 'x'),
           true),
       false, 403, kOriginCutRequest},
      {"cut inside the key: no browser can use the reply", get("/", longKey, true), false, 0, 0},
  };
  for (const Case& c : cases) {
    const HttpAnswer answer = answerTo(c.request, c.loopback);
    EXPECT_EQ(answer.status, c.status) << c.what;
    EXPECT_EQ(answer.refusal, c.refusal) << c.what;
  }
  EXPECT_EQ(answerTo(get("/", ""), false).file, &kPageFile);
  // Every file of client/ is served at its name, as the file holds it.
  for (const std::string name : {"index.html", "changes.js", "icon.png", "icon.svg", "key.js",
                                 "manifest.json", "opening.js", "page.js", "picture.js"}) {
    const HttpAnswer answer = answerTo(get("/" + name, ""), false);
    ASSERT_NE(answer.file, nullptr) << name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer.file->bytes), answer.file->size),
              fileText(("client/" + name).c_str()))
        << name;
  }
}

TEST(HttpAnswer, TheServerHandsOutThePageAndEndsEachAnswer) {
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("http_answer", port));

  const std::string page = answerOf(port, get("/", "Host: 127.0.0.1\r\n"));
  const size_t headEnd = page.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << page;
  const std::string head = page.substr(0, headEnd + 2);
  const std::string html = fileText("client/index.html");
  EXPECT_EQ(page.substr(headEnd + 4), html);
  for (const std::string& line :
       std::vector<std::string>{"HTTP/1.1 200 OK\r\n", "Content-Type: text/html; charset=utf-8\r\n",
                                "Content-Length: " + std::to_string(html.size()) + "\r\n",
                                std::string("Cache-Control: no-cache\r\n"),
                                std::string("X-Content-Type-Options: nosniff\r\n"),
                                std::string("script-src 'self'; style-src 'sha256-"),
                                std::string("connect-src 'self' ws://127.0.0.1;"),
                                std::string("frame-ancestors 'none'\r\n")}) {
    EXPECT_NE(head.find(line), std::string::npos) << line << " not in\n" << head;
  }
  const std::string icon = answerOf(port, get("/icon.png", ""));
  EXPECT_EQ(icon.rfind("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n", 0), 0u) << icon;
  const std::string missing = answerOf(port, get("/missing", ""));
  EXPECT_EQ(missing.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << missing;
  EXPECT_NE(missing.find("\r\n\r\nnot found\n"), std::string::npos) << missing;
  const std::string posted = answerOf(port, "POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi");
  EXPECT_EQ(posted.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u) << posted;
  EXPECT_NE(posted.find("Allow: GET, HEAD\r\n"), std::string::npos) << posted;
  // HEAD: the headers GET gets, byte for byte, and no body.
  const std::string headed = answerOf(port, "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(headed, head + "\r\n");

  // An upgrade without Origin, and one from the page the server hands out,
  // get today's reply byte for byte; a refused one gets 403 and its end.
  const std::string own = "127.0.0.1:" + std::to_string(port);
  for (const std::string& request : {upgrade("", ""), upgrade(own, "http://" + own)}) {
    WsClient peer;
    ASSERT_TRUE(peer.connect(port));
    ASSERT_TRUE(peer.sendRaw(request));
    const std::vector<uint8_t> reply = peer.readExact(kReplyBytes, kAnswerMs);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), kReply) << request;
    EXPECT_TRUE(peer.staysQuiet(150)) << "nothing follows the reply at once";
  }
  const std::string refused = answerOf(port, upgrade(own, "http://127.0.0.1:1"));
  EXPECT_EQ(refused.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << refused;
  EXPECT_EQ(countOf(server.output(), "Refused a connection: Origin is another site.\n"), 1)
      << server.output();
}
