// Where the server listens: PANEL_LISTEN's reading, a server on "::" taking
// an IPv6 and an IPv4 loopback peer (both seen as loopback by the origin
// policy), and a malformed setting stopping the start.
#include "server/listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <utility>

#include "server/pending.h"
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

// Which reading connection gives way to a newcomer: its own address's
// oldest beyond that address's share, its /64's heaviest address's oldest
// beyond the /64's share, else, in a full table, the oldest; never one whose
// request is whole or being answered.
TEST(Listener, APendingConnectionGivesWayByItsSourcesShare) {
  constexpr int kCount = kPerNetMost + 4;
  static PendingConnection table[kCount];
  // Fills the table: `net` and `host` name each entry's IPv6 address, older
  // entries first; entries past `used` stay free.
  const auto fill = [](int used, auto addressOf) {
    for (int i = 0; i < kCount; ++i) {
      PendingConnection& entry = table[i];
      entry.state.store(i < used ? kPendingReading : kPendingFree);
      entry.acceptedMs = 100 + i;
      entry.peer = Peer{};
      entry.peer.address[0] = 0x20;
      const auto [net, host] = addressOf(i);
      entry.peer.address[7] = uint8_t(net);
      entry.peer.address[15] = uint8_t(host);
    }
  };
  const auto from = [](int net, int host) {
    static uint8_t address[kPeerAddressBytes];
    memset(address, 0, sizeof address);
    address[0] = 0x20;
    address[7] = uint8_t(net);
    address[15] = uint8_t(host);
    return address;
  };
  using Pair = std::pair<int, int>;

  // Room, and nobody over a share: nobody gives way.
  fill(kCount - 1, [](int i) { return Pair{i, 1}; });
  EXPECT_EQ(pendingVictim(table, kCount, from(200, 1)), -1);
  // Full: the oldest reading one, skipping those a door thread has.
  fill(kCount, [](int i) { return Pair{i, 1}; });
  table[0].state.store(kPendingAnswering);
  table[1].state.store(kPendingWhole);
  EXPECT_EQ(pendingVictim(table, kCount, from(200, 1)), 2);
  // Full of whole requests: no room at all.
  for (PendingConnection& entry : table) entry.state.store(kPendingWhole);
  EXPECT_EQ(pendingVictim(table, kCount, from(200, 1)), kNoRoom);

  // One address at its share: its own oldest, though others are older.
  fill(kCount, [](int i) { return Pair{i < 4 ? i : 50, i < 4 ? 1 : 7}; });
  EXPECT_EQ(pendingVictim(table, kCount, from(50, 7)), 4);
  EXPECT_EQ(pendingVictim(table, kCount, from(50, 8)), 4) << "its /64 is at its share too";
  EXPECT_EQ(pendingVictim(table, kCount, from(51, 7)), 0) << "another's: the table's oldest";

  // One /64 at its share, one address per connection but for one that holds
  // two: that one's oldest goes, not the lone owner's older connection.
  fill(kCount - 1, [](int i) {
    return Pair{i < kPerNetMost ? 60 : i, i == 9 || i == 20 ? 99 : i};
  });
  EXPECT_EQ(pendingVictim(table, kCount, from(60, 200)), 9);
  // Every address of the /64 holds one: the /64's oldest.
  fill(kCount - 1, [](int i) { return Pair{i < 3 ? i : 60, i}; });
  EXPECT_EQ(pendingVictim(table, kCount, from(60, 200)), 3);

  // IPv4: each address is a source of its own.
  fill(kCount - 1, [](int i) { return Pair{0, i}; });
  for (int i = 0; i < kCount; ++i) {
    memset(table[i].peer.address, 0, kPeerAddressBytes);
    table[i].peer.address[10] = 0xff;
    table[i].peer.address[11] = 0xff;
    table[i].peer.address[15] = uint8_t(i < kPerAddressMost ? 1 : i);
  }
  uint8_t v4[kPeerAddressBytes] = {};
  v4[10] = v4[11] = 0xff;
  v4[15] = 1;
  EXPECT_EQ(pendingVictim(table, kCount, v4), 0);
  v4[15] = 2;
  EXPECT_EQ(pendingVictim(table, kCount, v4), -1);
}
