// The origin policy: a table of upgrade requests (origins, names, the list
// of PANEL_ORIGINS, Origin null) and the answer of each, the list's reading
// (what a start accepts and what stops it) and the page's WebSocket sources.
#include "door/origin_policy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int check(const std::string& host, const std::string& origin, bool loopback,
          const AllowedOrigins& allowed, const std::string& more = "") {
  std::string text = "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: a2V5\r\n" + more;
  if (!host.empty()) text += "Host: " + host + "\r\n";
  if (!origin.empty()) text += "Origin: " + origin + "\r\n";
  text += "\r\n";
  const HttpRequest request =
      readHttpRequest(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
  return checkOriginWith(request, loopback, allowed);
}

AllowedOrigins listOf(const char* text) {
  AllowedOrigins allowed;
  EXPECT_GT(readAllowedOrigins(text, allowed), 0) << text;
  return allowed;
}

}  // namespace

TEST(OriginPolicy, EachUpgradeGetsItsAnswer) {
  const AllowedOrigins none;
  const AllowedOrigins proxied =
      listOf("https://panel.example.com, https://panel.example.com:8443,http://panel.lan:8080");
  struct Case {
    const char* what;
    const char* host;
    const char* origin;
    bool loopback;
    const AllowedOrigins& allowed;
    int expected;
  };
  const Case cases[] = {
      {"a .home.arpa name", "panel.home.arpa:8080", "http://panel.home.arpa:8080", false, none,
       kOriginAccepted},
      {"an .internal name", "panel.internal", "http://panel.internal", false, none,
       kOriginAccepted},
      {"names compared without case", "Panel.HOME.arpa", "http://panel.home.arpa", false, none,
       kOriginAccepted},
      {"a bare suffix is no name", "home.arpa", "http://home.arpa", false, none,
       kOriginForeignHost},
      {"a suffix inside a name", "a.internal.example", "http://a.internal.example", false, none,
       kOriginForeignHost},
      {".lan is not reserved", "panel.lan", "http://panel.lan", false, none, kOriginForeignHost},
      {"a router's name", "panel.fritz.box", "http://panel.fritz.box", false, none,
       kOriginForeignHost},
      {"https without a list", "panel.example.com", "https://panel.example.com", true, none,
       kOriginForeignHost},
      {"null from loopback without a list", "127.0.0.1:8080", "null", true, none, kOriginAccepted},
      {"a listed origin, the proxy's Host", "panel.example.com", "https://panel.example.com", true,
       proxied, kOriginAccepted},
      {"a listed origin, a proxy's upstream Host", "127.0.0.1:8080", "https://panel.example.com",
       true, proxied, kOriginAccepted},
      {"a listed origin with its port", "x", "https://PANEL.example.com:8443", true, proxied,
       kOriginAccepted},
      {"a listed http origin", "panel.lan:8080", "http://panel.lan:8080", false, proxied,
       kOriginAccepted},
      {"another port of a listed name", "panel.example.com", "https://panel.example.com:444", true,
       proxied, kOriginForeignHost},
      {"the listed name over http", "panel.example.com", "http://panel.example.com", true, proxied,
       kOriginForeignHost},
      {"another site through the proxy", "panel.example.com", "https://evil.example", true, proxied,
       kOriginForeignHost},
      {"a look-alike of a listed origin", "panel.example.com",
       "https://panel.example.com.evil.example", true, proxied, kOriginForeignHost},
      {"a listed origin with a path", "panel.example.com", "https://panel.example.com/", true,
       proxied, kOriginForeignHost},
      {"a sandboxed frame through the proxy", "panel.example.com", "null", true, proxied,
       kOriginNullListed},
      {"null from the network with a list", "10.0.0.5", "null", false, proxied, kOriginNullListed},
      {"the device's own page still works", "10.0.0.5:8080", "http://10.0.0.5:8080", false, proxied,
       kOriginAccepted},
      {"no Origin: not a browser", "panel.example.com", "", true, proxied, kOriginAccepted},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check(c.host, c.origin, c.loopback, c.allowed), c.expected) << c.what;
  }
  // Headers a proxy (or anyone) may add are never read.
  const std::string forwarded =
      "X-Forwarded-Host: panel.example.com\r\nX-Forwarded-Proto: https\r\n"
      "Forwarded: host=panel.example.com;proto=https\r\nX-Forwarded-Origin: "
      "https://panel.example.com\r\n";
  EXPECT_EQ(check("panel.example.com", "https://evil.example", true, proxied, forwarded),
            kOriginForeignHost);
  EXPECT_EQ(check("10.0.0.5", "https://10.0.0.5", false, none, forwarded), kOriginForeignOrigin);
  EXPECT_STREQ(originRefusalText(kOriginNullListed), "Origin null while PANEL_ORIGINS is set");
}

TEST(OriginPolicy, TheListIsReadStrictly) {
  const std::string longest = "https://" + std::string(kAllowedOriginLongest - 8, 'a');
  std::string nine;
  for (int i = 0; i <= kAllowedOriginsMost; ++i) nine += "http://p" + std::to_string(i) + ",";
  nine.pop_back();
  struct Case {
    std::string list;
    int expected;             // the count or the failure
    const char* firstReadAs;  // the first origin as kept
  };
  const Case cases[] = {
      {"", 0, ""},
      {"https://panel.example.com", 1, "https://panel.example.com"},
      {"HTTPS://Panel.Example.COM:443", 1, "https://panel.example.com"},
      {"http://panel.lan:80, https://[FD00::5]:8443", 2, "http://panel.lan"},
      {"http://192.168.1.5:8080", 1, "http://192.168.1.5:8080"},
      {longest, 1, longest.c_str()},
      {longest + "a", kOriginsTooLong, ""},
      {nine, kOriginsTooMany, ""},
      {"panel.example.com", kOriginsBadEntry, ""},
      {"ftp://panel.example.com", kOriginsBadEntry, ""},
      {"https://", kOriginsBadEntry, ""},
      {"https://panel.example.com/", kOriginsBadEntry, ""},
      {"https://panel.example.com/panel", kOriginsBadEntry, ""},
      {"https://user@panel.example.com", kOriginsBadEntry, ""},
      {"https://panel..example.com", kOriginsBadEntry, ""},
      {"https://panel.example.com.", kOriginsBadEntry, ""},
      {"https://panel.example.com:0", kOriginsBadEntry, ""},
      {"https://panel.example.com:65536", kOriginsBadEntry, ""},
      {"https://panel.example.com:", kOriginsBadEntry, ""},
      {"https://[fd00::5", kOriginsBadEntry, ""},
      {"https://[fd00:0:0::5]:8443", 1, "https://[fd00::5]:8443"},
      {"https://[fd00::5::1]", kOriginsBadEntry, ""},
      {"https://[fd00::5]x", kOriginsBadEntry, ""},
      {"https://a.example,", kOriginsBadEntry, ""},
      {"https://a.example,,https://b.example", kOriginsBadEntry, ""},
      {" ", kOriginsBadEntry, ""},
      {"null", kOriginsBadEntry, ""},
  };
  for (const Case& c : cases) {
    AllowedOrigins read;
    EXPECT_EQ(readAllowedOrigins(c.list.c_str(), read), c.expected) << c.list;
    EXPECT_EQ(read.count, c.expected > 0 ? c.expected : 0) << c.list;
    EXPECT_STREQ(read.text[0], c.firstReadAs) << c.list;
  }
}

TEST(OriginPolicy, ThePageMayConnectToEveryListedOrigin) {
  allowedOrigins = listOf("https://panel.example.com:8443,http://panel.lan:8080");
  char sources[kOriginSourcesBound] = {};
  const int written = writeOriginSources(sources, int(sizeof sources));
  EXPECT_STREQ(sources, " wss://panel.example.com:8443 ws://panel.lan:8080");
  EXPECT_EQ(written, int(strlen(sources)));
  EXPECT_EQ(writeOriginSources(sources, 10), -1) << "a source that does not fit";
  allowedOrigins = {};
  EXPECT_EQ(writeOriginSources(sources, int(sizeof sources)), 0);
  EXPECT_STREQ(sources, "");
}
