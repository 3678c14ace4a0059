// The client behind a trusted proxy: PANEL_TRUSTED_PROXIES's reading, and
// which address a request is counted and named by, for peers and headers
// a proxy (or a client posing as one) may send.
#include "door/peer_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace {

Peer peerAt(const char* text) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  in_addr v4{};
  if (inet_pton(AF_INET, text, &v4) == 1) {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_addr = v4;
    return peerFromAddress(reinterpret_cast<const sockaddr*>(&in4));
  }
  EXPECT_EQ(inet_pton(AF_INET6, text, &address.sin6_addr), 1) << text;
  return peerFromAddress(reinterpret_cast<const sockaddr*>(&address));
}

std::string clientText(const char* peer, const std::string& headers,
                       const TrustedProxies& proxies) {
  const std::string text = "GET / HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n";
  const HttpRequest request =
      readHttpRequest(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
  return clientOf(peerAt(peer), request, proxies).text;
}

}  // namespace

TEST(PeerAddress, TheTrustedProxiesAreAddressesOrBlocks) {
  const struct {
    const char* text;
    int result;
  } cases[] = {
      {"127.0.0.1", 1},
      {"127.0.0.1, ::1", 2},
      {"10.0.0.0/8,fd00::/8", 2},
      {"192.168.1.7/32", 1},
      {"::/0", 1},
      {"10.0.0.0/33", kProxiesBadEntry},
      {"::1/129", kProxiesBadEntry},
      {"10.0.0.0/", kProxiesBadEntry},
      {"10.0.0.0/8x", kProxiesBadEntry},
      {"localhost", kProxiesBadEntry},
      {"127.0.0.1:80", kProxiesBadEntry},
      {"127.0.0.1,,::1", kProxiesBadEntry},
      {"1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5,6.6.6.6,7.7.7.7,8.8.8.8,9.9.9.9", kProxiesTooMany},
  };
  for (const auto& c : cases) {
    TrustedProxies read;
    EXPECT_EQ(readTrustedProxies(c.text, read), c.result) << c.text;
    EXPECT_EQ(read.count, c.result > 0 ? c.result : 0) << c.text;
  }
  TrustedProxies blocks;
  ASSERT_EQ(readTrustedProxies("10.1.0.0/17, fd00::/15", blocks), 2);
  EXPECT_TRUE(isTrustedProxy(peerAt("10.1.127.255").address, blocks));
  EXPECT_FALSE(isTrustedProxy(peerAt("10.1.128.0").address, blocks));
  EXPECT_TRUE(isTrustedProxy(peerAt("fd01::9").address, blocks));
  EXPECT_FALSE(isTrustedProxy(peerAt("fd02::9").address, blocks));
  EXPECT_FALSE(isTrustedProxy(peerAt("::ffff:10.1.0.1").address, TrustedProxies{}));
}

TEST(PeerAddress, OnlyATrustedProxyNamesTheClient) {
  TrustedProxies proxies;
  ASSERT_EQ(readTrustedProxies("127.0.0.1, 10.0.0.0/8", proxies), 2);
  const TrustedProxies none;
  const struct {
    const char* what;
    const char* peer;
    std::string headers;
    const TrustedProxies& proxies;
    const char* client;
  } cases[] = {
      {"no setting: the header is ignored", "127.0.0.1", "X-Forwarded-For: 192.0.2.9\r\n", none,
       "127.0.0.1"},
      {"an untrusted peer: ignored", "192.0.2.1", "X-Forwarded-For: 198.51.100.7\r\n", proxies,
       "192.0.2.1"},
      {"the proxy's client", "127.0.0.1", "X-Forwarded-For: 192.0.2.9\r\n", proxies, "192.0.2.9"},
      {"a forged entry before the real one", "127.0.0.1", "X-Forwarded-For: 6.6.6.6, 192.0.2.9\r\n",
       proxies, "192.0.2.9"},
      {"trusted hops are skipped", "127.0.0.1", "x-forwarded-for: 192.0.2.9,10.1.1.1, 10.2.2.2\r\n",
       proxies, "192.0.2.9"},
      {"the proxy's own line comes last", "127.0.0.1",
       "X-Forwarded-For: 6.6.6.6\r\nX-Forwarded-For: 192.0.2.9\r\n", proxies, "192.0.2.9"},
      {"IPv6 in brackets with a port", "127.0.0.1", "X-Forwarded-For: [2001:db8::5]:4711\r\n",
       proxies, "2001:db8::5"},
      {"IPv4 with a port", "127.0.0.1", "X-Forwarded-For: 192.0.2.9:5000\r\n", proxies,
       "192.0.2.9"},
      {"not an address: the peer", "127.0.0.1", "X-Forwarded-For: unknown\r\n", proxies,
       "127.0.0.1"},
      {"only trusted hops: the peer", "127.0.0.1", "X-Forwarded-For: 10.0.0.1\r\n", proxies,
       "127.0.0.1"},
      {"Forwarded", "10.9.9.9",
       "Forwarded: for=6.6.6.6, for=\"[2001:db8::7]:80\";proto=https;by=10.9.9.9\r\n", proxies,
       "2001:db8::7"},
      {"Forwarded with a name", "127.0.0.1", "Forwarded: for=_hidden\r\n", proxies, "127.0.0.1"},
      {"X-Forwarded-For before Forwarded", "127.0.0.1",
       "Forwarded: for=6.6.6.6\r\nX-Forwarded-For: 192.0.2.9\r\n", proxies, "192.0.2.9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(clientText(c.peer, c.headers, c.proxies), c.client) << c.what;
  }
  EXPECT_TRUE(peerAt("::ffff:127.0.0.2").loopback);
  EXPECT_FALSE(peerAt("::2").loopback);
}
