// The origin and host checks of an upgrade request. A web page of another
// site can make its visitor's browser open a WebSocket to the device; the
// browser then names that page in Origin, which the page cannot change. A
// site can also make its own name resolve to the device (DNS rebinding), so
// its pages look like the device's own: the Host header then carries the
// site's name, which is why only names that no outside site controls are
// taken as the device's.
#include "server/origin_policy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

constexpr char kPageScheme[] = "http://";
constexpr int kIpv4Parts = 4;
constexpr int kIpv4PartLargest = 255;
constexpr int kIpv4PartDigits = 3;
constexpr uint8_t kLoopbackNet = 127;

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

// Labels of letters, digits and hyphens: one alone, or ending in ".local".
bool isLocalName(const char* text, int length) {
  int dots = 0;
  for (int i = 0; i < length; ++i) {
    if (text[i] == '.') {
      if (i == 0 || text[i - 1] == '.') return false;
      ++dots;
    } else if (!isLabelChar(text[i])) {
      return false;
    }
  }
  if (length == 0 || text[length - 1] == '.') return false;
  return dots == 0 || (length > 6 && spanIs({text + length - 6, 6}, ".local"));
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

int checkOrigin(const HttpRequest& request, bool peerOnLoopback) {
  if (request.origin.count == 0) {
    const bool keyMayBeUsed = request.key.count > 0 && request.key.whole;
    return !request.headersComplete && keyMayBeUsed ? kOriginCutRequest : kOriginAccepted;
  }
  if (request.origin.count > 1 || request.host.count > 1) return kOriginRepeated;
  if (spanIs(request.origin.value, "null")) {
    return peerOnLoopback ? kOriginAccepted : kOriginNullRemote;
  }
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

const char* originRefusalText(int reason) {
  switch (reason) {
    case kOriginCutRequest: return "headers longer than one read and no Origin among them";
    case kOriginRepeated: return "more than one Origin or Host";
    case kOriginNullRemote: return "Origin null from a peer not on loopback";
    case kOriginNoHost: return "Origin without Host";
    case kOriginForeignHost: return "Host names another site";
    case kOriginForeignOrigin: return "Origin is another site";
    default: return "accepted";
  }
}

bool peerIsLoopback(int sock) {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
  if (peer.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == kLoopbackNet;
  }
  if (peer.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == kLoopbackNet;
  }
  return false;
}
