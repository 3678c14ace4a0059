// The listening socket, the five client slots and the listener thread.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <cstdint>

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

// Takes a free streaming slot for a connection whose upgrade was let in:
// the slot, or -1 when all five are taken (the connection is then closed
// unanswered).
int takeStreamSlot();
// Closes the slot's connection and frees the slot (its thread's last act).
void releaseSlot(uint8_t slotIndex, int sock);

// Opens the listening socket, sets work and starts the listener thread.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
