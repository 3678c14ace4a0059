// The origin and host checks of an upgrade request. A web page of another
// site can make its visitor's browser open a WebSocket to the device; the
// browser then names that page in Origin, which the page cannot change. A
// site can also make its own name resolve to the device (DNS rebinding), so
// its pages look like the device's own: the Host header then carries the
// site's name, which is why only names that no outside site controls are
// taken as the device's. Behind a reverse proxy the Host is the proxy's
// choice and the page's origin is https://, so the owner lists the page's
// origins in PANEL_ORIGINS instead; an Origin is compared with that list
// only, never with headers a proxy or client adds.
#include "door/origin_policy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

AllowedOrigins allowedOrigins;

namespace {

constexpr char kPageScheme[] = "http://";
constexpr char kSecureScheme[] = "https://";
constexpr int kPortLargest = 65535;
constexpr int kPortDigits = 5;
constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
// Name endings reserved for private networks: no outside site can register
// a name under them, so no outside site can make one point here.
constexpr const char* kPrivateSuffixes[] = {".local", ".home.arpa", ".internal"};
constexpr int kIpv4Parts = 4;
constexpr int kIpv4PartLargest = 255;
constexpr int kIpv4PartDigits = 3;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLabelChar(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

bool isIpv4(const char* text, int length) {
  int parts = 0;
  int at = 0;
  while (parts < kIpv4Parts) {
    int value = 0;
    int digits = 0;
    while (at < length && isDigit(text[at]) && digits < kIpv4PartDigits) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || value > kIpv4PartLargest) return false;
    ++parts;
    if (parts < kIpv4Parts) {
      if (at >= length || text[at] != '.') return false;
      ++at;
    }
  }
  return at == length;
}

// "[...]" holding hex digits, colons and the dots of an embedded IPv4 part.
bool isBracketedIpv6(const char* text, int length) {
  if (length < 4 || text[0] != '[' || text[length - 1] != ']') return false;
  for (int i = 1; i < length - 1; ++i) {
    if (!isHex(text[i]) && text[i] != ':' && text[i] != '.') return false;
  }
  return true;
}

bool endsWith(const char* text, int length, const char* suffix) {
  const int suffixLength = int(strlen(suffix));
  return length > suffixLength && spanIs({text + length - suffixLength, suffixLength}, suffix);
}

// Labels of letters, digits and hyphens, none empty.
bool isDottedName(const char* text, int length, int* dots) {
  *dots = 0;
  for (int i = 0; i < length; ++i) {
    if (text[i] == '.') {
      if (i == 0 || text[i - 1] == '.') return false;
      ++*dots;
    } else if (!isLabelChar(text[i])) {
      return false;
    }
  }
  return length > 0 && text[length - 1] != '.';
}

// One label alone, or a name under a private-network suffix.
bool isLocalName(const char* text, int length) {
  int dots = 0;
  if (!isDottedName(text, length, &dots)) return false;
  if (dots == 0) return true;
  for (const char* suffix : kPrivateSuffixes) {
    if (endsWith(text, length, suffix)) return true;
  }
  return false;
}

bool listed(TextSpan origin, const AllowedOrigins& allowed) {
  for (int i = 0; i < allowed.count; ++i) {
    const TextSpan entry{allowed.text[i], int(strlen(allowed.text[i]))};
    if (spansMatch(origin, entry)) return true;
  }
  return false;
}

// Reads "http(s)://host[:port]" from text[0, length) into out, in lower case
// and without a default port; false when it is anything else.
bool readOrigin(const char* text, int length, char* out) {
  const bool secure = length > 8 && spanIs({text, 8}, kSecureScheme);
  const bool plain = length > 7 && spanIs({text, 7}, kPageScheme);
  if (!secure && !plain) return false;
  const int hostStart = secure ? 8 : 7;
  int hostEnd = hostStart;
  char address[INET6_ADDRSTRLEN] = {};  // an IPv6 host as a browser writes it
  if (text[hostStart] == '[') {
    while (hostEnd < length && text[hostEnd] != ']') ++hostEnd;
    const int inner = hostEnd - hostStart - 1;
    in6_addr parsed{};
    if (hostEnd == length || inner >= int(sizeof address)) return false;
    memcpy(address, text + hostStart + 1, size_t(inner));
    if (inet_pton(AF_INET6, address, &parsed) != 1 ||
        !inet_ntop(AF_INET6, &parsed, address, sizeof address)) {
      return false;
    }
    ++hostEnd;
  } else {
    while (hostEnd < length && text[hostEnd] != ':') ++hostEnd;
    int dots = 0;
    if (!isDottedName(text + hostStart, hostEnd - hostStart, &dots)) return false;
  }
  int port = secure ? kHttpsPort : kHttpPort;
  if (hostEnd < length) {
    if (text[hostEnd] != ':' || length - hostEnd - 1 > kPortDigits) return false;
    port = 0;
    for (int i = hostEnd + 1; i < length; ++i) {
      if (!isDigit(text[i])) return false;
      port = port * 10 + (text[i] - '0');
    }
    if (port < 1 || port > kPortLargest) return false;
  }
  int written = 0;
  for (int i = 0; i < (address[0] ? hostStart : hostEnd); ++i) {
    const char c = text[i];
    out[written++] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  }
  if (address[0]) written += snprintf(out + written, sizeof address + 2, "[%s]", address);
  const bool defaultPort = port == (secure ? kHttpsPort : kHttpPort);
  if (!defaultPort)
    snprintf(out + written, kAllowedOriginLongest + 1 - size_t(written), ":%d", port);
  else
    out[written] = 0;
  return true;
}

}  // namespace

bool hostIsLocalName(TextSpan host) {
  int nameLength = host.length;
  // The port: the digits after the last colon that follows any "]".
  for (int i = host.length - 1; i >= 0; --i) {
    if (host.text[i] == ']') break;
    if (host.text[i] == ':') {
      if (i == host.length - 1) return false;
      for (int d = i + 1; d < host.length; ++d) {
        if (!isDigit(host.text[d])) return false;
      }
      nameLength = i;
      break;
    }
  }
  return isIpv4(host.text, nameLength) || isBracketedIpv6(host.text, nameLength) ||
         isLocalName(host.text, nameLength);
}

// An empty list is no setting.
int readAllowedOrigins(const char* list, AllowedOrigins& out) {
  out = {};
  AllowedOrigins read;
  const TextSpan whole{list, list ? int(strlen(list)) : 0};
  for (int from = 0; from < whole.length;) {
    const TextSpan item = nextListItem(whole, &from, ',');
    if (read.count == kAllowedOriginsMost) return kOriginsTooMany;
    if (item.length > kAllowedOriginLongest) return kOriginsTooLong;
    if (!readOrigin(item.text, item.length, read.text[read.count])) return kOriginsBadEntry;
    ++read.count;
    // A comma at the end.
    if (from == whole.length && list[whole.length - 1] == ',') return kOriginsBadEntry;
  }
  out = read;
  return out.count;
}

int readOriginsSetting() {
  const char* value = getenv("PANEL_ORIGINS");
  const int read = readAllowedOrigins(value, allowedOrigins);
  if (read >= 0) return 0;
  fprintf(stderr,
          "PANEL_ORIGINS: \"%s\" is not a comma-separated list of at most %d origins such as "
          "https://panel.example.com or https://panel.example.com:8443 (scheme http or https, "
          "a host, an optional port, no path, at most %d characters each)\n",
          value, kAllowedOriginsMost, kAllowedOriginLongest);
  return read;
}

int writeOriginSources(char* out, int size) {
  int written = 0;
  if (size > 0) out[0] = 0;
  for (int i = 0; i < allowedOrigins.count; ++i) {
    const char* origin = allowedOrigins.text[i];
    const bool secure = strncmp(origin, kSecureScheme, sizeof kSecureScheme - 1) == 0;
    const char* host = origin + (secure ? sizeof kSecureScheme : sizeof kPageScheme) - 1;
    const int added =
        snprintf(out + written, size_t(size - written), " %s%s", secure ? "wss://" : "ws://", host);
    if (added < 0 || added >= size - written) return -1;
    written += added;
  }
  return written;
}

int checkOrigin(const HttpRequest& request, bool peerOnLoopback) {
  return checkOriginWith(request, peerOnLoopback, allowedOrigins);
}

int checkOriginWith(const HttpRequest& request, bool peerOnLoopback,
                    const AllowedOrigins& allowed) {
  if (request.origin.count == 0) {
    const bool keyMayBeUsed = request.key.count > 0 && request.key.whole;
    return !request.headersComplete && keyMayBeUsed ? kOriginCutRequest : kOriginAccepted;
  }
  if (request.origin.count > 1 || request.host.count > 1) return kOriginRepeated;
  if (spanIs(request.origin.value, "null")) {
    if (allowed.count > 0) return kOriginNullListed;
    return peerOnLoopback ? kOriginAccepted : kOriginNullRemote;
  }
  if (listed(request.origin.value, allowed)) return kOriginAccepted;
  if (request.host.count == 0) return kOriginNoHost;
  if (!hostIsLocalName(request.host.value)) return kOriginForeignHost;
  const int schemeLength = int(sizeof kPageScheme) - 1;
  const TextSpan origin = request.origin.value;
  if (origin.length <= schemeLength || !spanIs({origin.text, schemeLength}, kPageScheme)) {
    return kOriginForeignOrigin;
  }
  const TextSpan page{origin.text + schemeLength, origin.length - schemeLength};
  return spansMatch(page, request.host.value) ? kOriginAccepted : kOriginForeignOrigin;
}

int checkLoginOrigin(const HttpRequest& request, bool peerOnLoopback) {
  if (request.origin.count == 1 && spanIs(request.origin.value, "null")) return kOriginNullLogin;
  if (request.origin.count == 0 && request.fetchSite.count > 0) return kOriginMissingBrowser;
  return checkOrigin(request, peerOnLoopback);
}

const char* originRefusalText(int reason) {
  switch (reason) {
    case kOriginCutRequest: return "headers longer than one read and no Origin among them";
    case kOriginRepeated: return "more than one Origin or Host";
    case kOriginNullRemote: return "Origin null from a peer not on loopback";
    case kOriginNoHost: return "Origin without Host";
    case kOriginForeignHost: return "Host names another site";
    case kOriginForeignOrigin: return "Origin is another site";
    case kOriginNullListed: return "Origin null while PANEL_ORIGINS is set";
    case kOriginNullLogin: return "Origin null on a login or logout";
    case kOriginMissingBrowser: return "a browser's login or logout without Origin";
    default: return "accepted";
  }
}
