// The peer's address from getpeername, IPv4 kept mapped into IPv6 so that
// every address has one 16-byte form.
#include "door/peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

constexpr uint8_t kLoopbackNet = 127;
constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr uint8_t kIpv6Loopback[kPeerAddressBytes] = {0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 0, 1};

}  // namespace

bool isLoopbackAddress(const uint8_t* address) {
  if (memcmp(address, kIpv6Loopback, kPeerAddressBytes) == 0) return true;
  return memcmp(address, kMappedPrefix, sizeof kMappedPrefix) == 0 && address[12] == kLoopbackNet;
}

Peer peerOf(int sock) {
  Peer peer;
  sockaddr_storage storage = {};
  socklen_t size = sizeof storage;
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&storage), &size) != 0) return peer;
  if (storage.ss_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    memcpy(peer.address, kMappedPrefix, sizeof kMappedPrefix);
    memcpy(peer.address + 12, &in4->sin_addr, 4);
    inet_ntop(AF_INET, &in4->sin_addr, peer.text, sizeof peer.text);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    memcpy(peer.address, &in6->sin6_addr, kPeerAddressBytes);
    inet_ntop(AF_INET6, &in6->sin6_addr, peer.text, sizeof peer.text);
  } else {
    return peer;
  }
  peer.loopback = isLoopbackAddress(peer.address);
  return peer;
}
