// The listening socket, the five client slots and the listener thread.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

#include "door/peer_address.h"

extern int32_t wsport;  // set from "-p"; only its low 16 bits are used
extern int32_t listener;
extern sockaddr_in svr_addr;
extern pthread_t hlistenWSprocess;

// The address to listen on, from PANEL_LISTEN: family AF_UNSPEC (the setting
// not made) means every IPv4 interface. An IPv6 address is listened on with
// IPV6_V6ONLY off, so "::" takes IPv4 peers too (as v4-mapped addresses).
struct ListenAddress {
  int family = 0;  // AF_UNSPEC, AF_INET or AF_INET6
  in_addr v4{};
  in6_addr v6{};
};
// Set once by readListenSetting before the server starts.
extern ListenAddress listenAddress;

constexpr int kListenAddressBad = -1;  // not an IPv4 or IPv6 literal

// Reads an IPv4 literal ("127.0.0.1") or an IPv6 literal ("::", "::1", with
// or without brackets) into `out`: 0 or kListenAddressBad.
int readListenAddress(const char* text, ListenAddress& out);
// Reads PANEL_LISTEN into listenAddress: 0, or kListenAddressBad after a
// line on stderr naming the bad value.
int readListenSetting();

// Results of startWSserver.
constexpr int kListening = 0;
constexpr int kNoSocket = -1;      // "not socket."
constexpr int kBindFailed = -2;    // "error bind."
constexpr int kListenFailed = -3;  // "error listen."

// What the listener notes of a slot's connection at accept. A connection is
// pending from accept until its request has been read and its access
// checked, then admitted. When every slot is taken, a new connection takes
// the place of a pending one (oldestPending): connections that have not
// shown what they want can never keep an admitted client out.
struct SlotDoor {
  int sock = -1;           // -1 once the connection's thread closes it
  int64_t acceptedMs = 0;  // monotonic milliseconds at accept
  bool admitted = false;
  Peer peer;  // the address accept gave, read once per connection
};
// Guarded by serverWSmutex.
extern SlotDoor slotDoors[];
// How long the listener waits for an evicted connection's thread to give up
// its slot before it turns the newcomer away instead.
constexpr int kEvictionWaitMs = 1000;

// The slot (of `count`) whose connection gives way to a newcomer: among the
// taken slots still pending, one of the source holding the most of them (an
// IPv4 address, or an IPv6 /64), the oldest of those; -1 when every taken
// slot is admitted. One source flooding the slots thus only ever pushes out
// its own connections.
int oldestPending(const SlotDoor* doors, const uint8_t* busy, int count);
// Marks the slot's connection admitted: no newcomer takes its place now.
void markAdmitted(uint8_t slotIndex);
// Closes the slot's connection and frees the slot (its thread's last act).
void releaseSlot(uint8_t slotIndex, int sock);

// Opens the listening socket, sets work and starts the listener thread.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
