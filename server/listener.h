// The listening socket, the listener thread and the five streaming slots.
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
// Closes the slot's connection and frees the slot (its thread's last act);
// a slot whose session was asked to give way goes straight to the owner
// waiting for it.
void releaseSlot(uint8_t slotIndex, int sock);

// The owner's place. With an access key set, a control session that finds
// every slot taken takes the slot of a view session: of those, the one
// heard from least recently. That session is asked to give way (it sends
// its viewer a close frame, 1013 "try again later", and ends) and its slot
// is handed over; without a view session, or when it has not given way
// within kGiveWayMillis, the owner's connection is closed unanswered like
// any other. Without a key every session is a control session and no one
// gives way.
constexpr int kGiveWayMillis = 1000;
// The slot taken from a view session for a control session, or -1.
int takeViewersSlot();
// A connection thread notes its session when it takes its slot: whether it
// only views, and that it was heard from now.
void noteSlotSession(int slot, bool viewOnly);
// The peer of the slot's connection was heard from now.
void noteHeard(int slot);
// True once the slot's session has been asked to give way to the owner.
bool askedToGiveWay(int slot);
// What the connection sends its viewer when it gives way: a close frame with
// 1013 (try again later) and a short reason the page shows.
constexpr uint8_t kGiveWayClose[] = {0x88, 27,  0x03, 0xF5, 't', 'h', 'e', ' ', 'o', 'w',
                                     'n',  'e', 'r',  ' ',  't', 'o', 'o', 'k', ' ', 't',
                                     'h',  'i', 's',  ' ',  'p', 'l', 'a', 'c', 'e'};

// Opens the listening socket, sets work and starts the listener thread.
int startWSserver();
// Listener thread body.
void* serverWSlisten(void* arg);
