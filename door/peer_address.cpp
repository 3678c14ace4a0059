// The peer's address, IPv4 kept mapped into IPv6 so that every address has
// one 16-byte form, and the client a trusted proxy forwards.
#include "door/peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

TrustedProxies trustedProxies;

namespace {

constexpr uint8_t kLoopbackNet = 127;
constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr uint8_t kIpv6Loopback[kPeerAddressBytes] = {0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 0, 1};
constexpr int kMappedBits = 96;  // the prefix of an IPv4 address mapped into IPv6
constexpr int kAllBits = 128;
constexpr int kAddressTextLongest = 63;
constexpr int kForwardedItemsMost = 16;  // entries of one forwarded line looked at
constexpr int kSettingLongest = 1024;

// Reads an IPv4 or IPv6 literal of exactly `length` characters into its
// 16-byte form; false when it is not one.
bool readLiteral(const char* text, int length, uint8_t* address) {
  if (length <= 0 || length > kAddressTextLongest) return false;
  char bare[kAddressTextLongest + 1] = {};
  memcpy(bare, text, size_t(length));
  in_addr v4{};
  if (inet_pton(AF_INET, bare, &v4) == 1) {
    memcpy(address, kMappedPrefix, sizeof kMappedPrefix);
    memcpy(address + 12, &v4, 4);
    return true;
  }
  return inet_pton(AF_INET6, bare, address) == 1;
}

bool isMapped(const uint8_t* address) {
  return memcmp(address, kMappedPrefix, sizeof kMappedPrefix) == 0;
}

// A forwarded node as proxies write it: an address, quoted or not, an IPv6
// one in brackets, either with a port after it.
bool readNode(TextSpan node, uint8_t* address) {
  const char* text = node.text;
  int length = node.length;
  if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
    ++text;
    length -= 2;
  }
  if (length > 0 && text[0] == '[') {
    const void* close = memchr(text, ']', size_t(length));
    if (close == nullptr) return false;
    return readLiteral(text + 1, int(static_cast<const char*>(close) - text) - 1, address);
  }
  if (readLiteral(text, length, address)) return true;
  // An IPv4 address with a port: the one colon goes.
  const void* colon = memchr(text, ':', size_t(length));
  if (colon == nullptr) return false;
  const int hostLength = int(static_cast<const char*>(colon) - text);
  uint8_t v4[kPeerAddressBytes] = {};
  if (!readLiteral(text, hostLength, v4) || !isMapped(v4)) return false;
  memcpy(address, v4, kPeerAddressBytes);
  return true;
}

// The node of one Forwarded element: its "for=" value, or an empty span.
TextSpan forwardedFor(TextSpan element) {
  for (int from = 0; from < element.length;) {
    const TextSpan pair = nextListItem(element, &from, ';');
    if (pair.length > 4 && spanIs({pair.text, 4}, "for=")) return {pair.text + 4, pair.length - 4};
  }
  return {};
}

// Walks one line's entries from the right: 1 with the client found in
// *client, 0 when every entry is a trusted proxy, -1 when the rightmost
// entry that is not one is not an address.
int clientInLine(TextSpan line, bool forwardedForm, const TrustedProxies& proxies,
                 uint8_t* client) {
  TextSpan items[kForwardedItemsMost];
  int count = 0;
  for (int from = 0; from < line.length;) {
    const TextSpan item = nextListItem(line, &from, ',');
    if (count == kForwardedItemsMost) {
      memmove(items, items + 1, sizeof items - sizeof items[0]);
      --count;
    }
    items[count++] = forwardedForm ? forwardedFor(item) : item;
  }
  for (int i = count - 1; i >= 0; --i) {
    uint8_t address[kPeerAddressBytes] = {};
    if (!readNode(items[i], address)) return -1;
    if (!isTrustedProxy(address, proxies)) {
      memcpy(client, address, kPeerAddressBytes);
      return 1;
    }
  }
  return 0;
}

Peer peerOfAddress(const uint8_t* address) {
  Peer peer;
  memcpy(peer.address, address, kPeerAddressBytes);
  if (isMapped(address)) {
    inet_ntop(AF_INET, address + 12, peer.text, sizeof peer.text);
  } else {
    inet_ntop(AF_INET6, address, peer.text, sizeof peer.text);
  }
  peer.loopback = isLoopbackAddress(address);
  return peer;
}

}  // namespace

bool isLoopbackAddress(const uint8_t* address) {
  if (memcmp(address, kIpv6Loopback, kPeerAddressBytes) == 0) return true;
  return isMapped(address) && address[12] == kLoopbackNet;
}

bool sameSource(const uint8_t* a, const uint8_t* b) {
  constexpr size_t kNetworkBytes = 8;  // an IPv6 /64
  if (isMapped(a) != isMapped(b)) return false;
  return memcmp(a, b, isMapped(a) ? size_t(kPeerAddressBytes) : kNetworkBytes) == 0;
}

Peer peerFromAddress(const sockaddr* address) {
  uint8_t bytes[kPeerAddressBytes] = {};
  if (address != nullptr && address->sa_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(address);
    memcpy(bytes, kMappedPrefix, sizeof kMappedPrefix);
    memcpy(bytes + 12, &in4->sin_addr, 4);
    return peerOfAddress(bytes);
  }
  if (address != nullptr && address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    memcpy(bytes, &in6->sin6_addr, kPeerAddressBytes);
    Peer peer = peerOfAddress(bytes);
    // An IPv6 listener's IPv4 peer keeps its IPv6 spelling ("::ffff:...").
    inet_ntop(AF_INET6, &in6->sin6_addr, peer.text, sizeof peer.text);
    return peer;
  }
  return Peer{};
}

bool isTrustedProxy(const uint8_t* address, const TrustedProxies& proxies) {
  for (int i = 0; i < proxies.count; ++i) {
    const int bits = proxies.prefixBits[i];
    const int whole = bits / 8;
    if (memcmp(address, proxies.address[i], size_t(whole)) != 0) continue;
    const int rest = bits % 8;
    const uint8_t mask = uint8_t(0xff << (8 - rest));
    if (rest == 0 || ((address[whole] ^ proxies.address[i][whole]) & mask) == 0) return true;
  }
  return false;
}

int readTrustedProxies(const char* list, TrustedProxies& out) {
  out = {};
  const TextSpan text = {list, list ? int(strnlen(list, kSettingLongest)) : 0};
  TrustedProxies read;
  for (int from = 0; from < text.length;) {
    const TextSpan entry = nextListItem(text, &from, ',');
    if (entry.length == 0) return kProxiesBadEntry;
    if (read.count == kTrustedProxiesMost) return kProxiesTooMany;
    const void* slash = memchr(entry.text, '/', size_t(entry.length));
    const int addressLength =
        slash ? int(static_cast<const char*>(slash) - entry.text) : entry.length;
    uint8_t* address = read.address[read.count];
    if (!readLiteral(entry.text, addressLength, address)) return kProxiesBadEntry;
    const bool v4 = isMapped(address);
    int bits = v4 ? kAllBits - kMappedBits : kAllBits;
    if (slash != nullptr) {
      const int digits = entry.length - addressLength - 1;
      const int most = bits;
      bits = 0;
      if (digits < 1 || digits > 3) return kProxiesBadEntry;
      for (int i = addressLength + 1; i < entry.length; ++i) {
        const char c = entry.text[i];
        if (c < '0' || c > '9') return kProxiesBadEntry;
        bits = bits * 10 + (c - '0');
      }
      if (bits > most) return kProxiesBadEntry;
    }
    read.prefixBits[read.count++] = v4 ? bits + kMappedBits : bits;
  }
  out = read;
  return out.count;
}

int readTrustedProxiesSetting() {
  const char* value = getenv("PANEL_TRUSTED_PROXIES");
  if (!value || !*value) return 0;  // an empty value is no setting
  const int read = readTrustedProxies(value, trustedProxies);
  if (read > 0) return 0;
  fprintf(stderr,
          "PANEL_TRUSTED_PROXIES: \"%s\" is not a list of at most %d addresses or blocks such as "
          "127.0.0.1, ::1 or 10.0.0.0/8\n",
          value, kTrustedProxiesMost);
  return read < 0 ? read : kProxiesBadEntry;
}

Peer clientOf(const Peer& peer, const HttpRequest& request, const TrustedProxies& proxies) {
  if (proxies.count == 0 || !isTrustedProxy(peer.address, proxies)) return peer;
  const bool forwardedForm = request.forwardedFor.count == 0;
  const HeaderValue& header = forwardedForm ? request.forwarded : request.forwardedFor;
  if (header.count == 0) return peer;
  uint8_t client[kPeerAddressBytes] = {};
  // The proxy next to the server writes the last line; a line between the
  // first and the last is not kept, so the walk stops there.
  int found = clientInLine(header.last, forwardedForm, proxies, client);
  if (found == 0 && header.count == 2) {
    found = clientInLine(header.value, forwardedForm, proxies, client);
  }
  return found == 1 ? peerOfAddress(client) : peer;
}
