// The address of a connection's peer, taken once when the connection is
// accepted, and the client behind it: the peer itself, or, when the peer is
// a proxy named in PANEL_TRUSTED_PROXIES, the client that proxy names in
// X-Forwarded-For or Forwarded. The client's address is what the guessing
// limit counts by, what printed lines name, and whether it is on loopback is
// what the origin policy asks.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "door/http_request.h"

constexpr int kPeerAddressBytes = 16;  // IPv6, or IPv4 mapped into it
constexpr int kPeerTextBound = 64;     // the longest IPv6 text and its NUL

struct Peer {
  uint8_t address[kPeerAddressBytes] = {};
  char text[kPeerTextBound] = "unknown";
  bool loopback = false;  // 127.0.0.0/8, ::1, or IPv4 loopback mapped into IPv6
};

// The peer of an address as accept or getpeername give it; an unknown one
// (another family, or null) is all zero bytes, "unknown" and not loopback.
Peer peerFromAddress(const sockaddr* address);
// True when the 16 address bytes are a loopback address.
bool isLoopbackAddress(const uint8_t* address);
// True when both addresses are one source: the same IPv4 address, or IPv6
// addresses in the same /64 (what one host or home network is given).
bool sameSource(const uint8_t* a, const uint8_t* b);

// The proxies whose forwarded client address is believed: addresses or
// blocks ("10.0.0.0/8", "fd00::/8"), IPv4 kept mapped into IPv6.
constexpr int kTrustedProxiesMost = 8;
struct TrustedProxies {
  int count = 0;  // 0: the setting is not made, and no forwarded header is read
  uint8_t address[kTrustedProxiesMost][kPeerAddressBytes] = {};
  int prefixBits[kTrustedProxiesMost] = {};  // of the 128-bit form
};
// Set once by readTrustedProxiesSetting before the server starts; read-only after.
extern TrustedProxies trustedProxies;

// Results of readTrustedProxies besides a count.
constexpr int kProxiesBadEntry = -1;  // not an address or address/prefix
constexpr int kProxiesTooMany = -2;   // more than kTrustedProxiesMost entries

// Reads a comma-separated list of addresses and blocks into `out`: the
// count, or a failure with `out` left empty.
int readTrustedProxies(const char* list, TrustedProxies& out);
// Reads PANEL_TRUSTED_PROXIES into trustedProxies: 0, or a failure after a
// line on stderr naming the bad value.
int readTrustedProxiesSetting();
// True when the address is one of the trusted proxies.
bool isTrustedProxy(const uint8_t* address, const TrustedProxies& proxies);

// The client of a request that came from `peer`: when the peer is a trusted
// proxy, the rightmost address of X-Forwarded-For (or, without it, of
// Forwarded's "for=") that is not itself a trusted proxy; otherwise, or when
// that entry is not an address, the peer.
Peer clientOf(const Peer& peer, const HttpRequest& request, const TrustedProxies& proxies);
