// Where the server listens: PANEL_LISTEN's reading, a server on "::" taking
// an IPv6 and an IPv4 loopback peer (both seen as loopback by the origin
// policy), and a malformed setting stopping the start.
#include "server/listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kReplyBytes = 129;
constexpr int kAnswerMs = 3000;
constexpr int kStopMs = 5000;
constexpr int kSettingFailedStatus = 252;  // main's -4

// True when this machine has an IPv6 loopback address to test with.
bool haveIpv6Loopback() {
  const int sock = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool bound =
      sock >= 0 && bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (sock >= 0) close(sock);
  return bound;
}

}  // namespace

TEST(Listener, TheListenAddressIsAnAddressLiteral) {
  struct Case {
    const char* text;
    int family;  // AF_UNSPEC: refused
  };
  const Case cases[] = {
      {"127.0.0.1", AF_INET},
      {"0.0.0.0", AF_INET},
      {"192.168.1.5", AF_INET},
      {"::", AF_INET6},
      {"::1", AF_INET6},
      {"[::1]", AF_INET6},
      {"fd00::5", AF_INET6},
      {"::ffff:127.0.0.1", AF_INET6},
      {"", AF_UNSPEC},
      {"localhost", AF_UNSPEC},
      {"127.1", AF_UNSPEC},
      {"127.0.0.1:8080", AF_UNSPEC},
      {"[127.0.0.1]", AF_UNSPEC},
      {" 127.0.0.1", AF_UNSPEC},
      {"256.0.0.1", AF_UNSPEC},
      {"fe80::1%eth0", AF_UNSPEC},
      {"[::1", AF_UNSPEC},
      {"1:2:3:4:5:6:7:8:9", AF_UNSPEC},
  };
  for (const Case& c : cases) {
    ListenAddress read;
    EXPECT_EQ(readListenAddress(c.text, read), c.family == AF_UNSPEC ? kListenAddressBad : 0)
        << c.text;
    EXPECT_EQ(read.family, c.family) << c.text;
  }
  ListenAddress read;
  EXPECT_EQ(readListenAddress(std::string(200, '1').c_str(), read), kListenAddressBad);
  ASSERT_EQ(readListenAddress("10.1.2.3", read), 0);
  EXPECT_EQ(ntohl(read.v4.s_addr), 0x0a010203u);
}

TEST(Listener, AServerOnAllIpv6AddressesTakesBothLoopbacks) {
  if (!haveIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback address";
  const uint16_t port = freePort();
  ServerProcess server;
  server.setEnvironment("PANEL_LISTEN", "::");
  ASSERT_TRUE(server.startOnPort("listener_v6", port));
  // Origin null is taken from loopback peers only: the answer shows that the
  // IPv6 peer and the v4-mapped IPv4 peer are both seen as loopback.
  const std::string request =
      "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " +
      std::string(kSampleKey) + "\r\nOrigin: null\r\n\r\n";
  for (const bool ipv6 : {true, false}) {
    WsClient peer;
    ASSERT_TRUE(ipv6 ? peer.connectIpv6(port) : peer.connect(port)) << ipv6;
    ASSERT_TRUE(peer.sendRaw(request));
    const std::vector<uint8_t> reply = peer.readExact(kReplyBytes, kAnswerMs);
    EXPECT_EQ(std::string(reply.begin(), reply.end()).rfind("HTTP/1.1 101 ", 0), 0u)
        << "IPv6: " << ipv6 << "\n"
        << std::string(reply.begin(), reply.end());
  }
  EXPECT_EQ(server.signal(SIGTERM) ? server.waitExit(kStopMs) : -1, 0);
  EXPECT_FALSE(sanitizerReported(server.errors())) << server.errors();
}

TEST(Listener, AMalformedSettingStopsTheStart) {
  for (const auto& [name, value] : {std::pair{"PANEL_LISTEN", "localhost"},
                                    std::pair{"PANEL_ORIGINS", "https://panel.example.com/"},
                                    std::pair{"PANEL_TRUSTED_PROXIES", "10.0.0.0/33"}}) {
    ServerProcess server;
    server.setEnvironment(name, value);
    ASSERT_TRUE(server.startOnPort(std::string("listener_") + name, freePort()));
    EXPECT_EQ(server.waitExit(kStopMs), kSettingFailedStatus) << name;
    EXPECT_EQ(server.errors().rfind(std::string(name) + ": \"" + value + "\" is not ", 0), 0u)
        << server.errors();
    EXPECT_EQ(server.output(), "") << "nothing starts";
  }
}

// A newcomer to full slots takes the place of a connection that has not been
// let in: of the source holding the most such slots (an IPv4 address, an
// IPv6 /64), the oldest; admitted ones and free slots are never chosen.
TEST(Listener, TheOldestPendingConnectionOfTheBusiestSourceGivesWay) {
  const auto door = [](int64_t acceptedMs, bool admitted, uint8_t source = 1, uint8_t host = 1) {
    SlotDoor entry;
    entry.acceptedMs = acceptedMs;
    entry.admitted = admitted;
    entry.peer.address[0] = 0x20;  // IPv6 2000::/8
    entry.peer.address[7] = source;
    entry.peer.address[15] = host;
    return entry;
  };
  const struct {
    const char* what;
    SlotDoor doors[5];
    uint8_t busy[5];
    int expected;
  } cases[] = {
      {"one source: the oldest pending",
       {door(50, false), door(10, false), door(30, false), door(5, true), door(40, false)},
       {255, 255, 255, 255, 255},
       1},
      {"every one admitted",
       {door(1, true), door(2, true), door(3, true), door(4, true), door(5, true)},
       {255, 255, 255, 255, 255},
       -1},
      {"a free slot is no candidate",
       {door(1, false), door(2, false), door(3, true), door(4, true), door(5, true)},
       {0, 255, 255, 255, 255},
       1},
      {"the busiest source, not the oldest connection",
       {door(1, false, 1), door(20, false, 2, 1), door(10, false, 2, 9), door(30, false, 2, 3),
        door(2, true, 2)},
       {255, 255, 255, 255, 255},
       2},
      {"other /64s are other sources",
       {door(1, false, 1), door(20, false, 2), door(10, false, 3), door(30, false, 4),
        door(2, false, 5)},
       {255, 255, 255, 255, 255},
       0},
  };
  for (const auto& c : cases) EXPECT_EQ(oldestPending(c.doors, c.busy, 5), c.expected) << c.what;
}
