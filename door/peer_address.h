// The address of a connection's peer, read once when its request arrives:
// the bytes the guessing limit counts by, the text printed lines name, and
// whether it is a loopback peer (which the origin policy asks).
#pragma once

#include <cstdint>

constexpr int kPeerAddressBytes = 16;  // IPv6, or IPv4 mapped into it
constexpr int kPeerTextBound = 64;     // the longest IPv6 text and its NUL

struct Peer {
  uint8_t address[kPeerAddressBytes] = {};
  char text[kPeerTextBound] = "unknown";
  bool loopback = false;  // 127.0.0.0/8, ::1, or IPv4 loopback mapped into IPv6
};

// The socket's peer; an unknown one (getpeername failed) is all zero bytes,
// "unknown" and not loopback.
Peer peerOf(int sock);
// True when the 16 address bytes are a loopback address.
bool isLoopbackAddress(const uint8_t* address);
