// Connections that have not yet shown what they want. The listener thread
// holds them all in one fixed table and reads every request in one poll
// loop, so idle or slow sockets cost a table entry each, not a thread or a
// streaming slot. A request whose head (and a login's body) is in whole goes
// to a door thread, of which at most kDoorThreadsMost run at once: it
// answers the page and its files, /session, /login and /logout without ever
// taking a streaming slot, and an upgrade it lets in moves on to one of the
// five streaming slots (server/listener.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "door/peer_address.h"

// Room for this many connections still sending their requests, or answered
// by a door thread. Each has a buffer for a request head of up to
// kRequestHeadMost bytes, made resident only as far as bytes arrive.
constexpr int kPendingMost = 128;
constexpr int kRequestHeadMost = 8192;
constexpr int kDoorThreadsMost = 4;
// No single address, and no IPv6 /64 (one home network), holds more of the
// table's reading connections than this: a newcomer beyond it takes the
// place of one of its own source's (see pendingVictim).
constexpr int kPerAddressMost = 8;
constexpr int kPerNetMost = 32;

// What an entry is doing.
constexpr uint8_t kPendingFree = 0;
constexpr uint8_t kPendingReading = 1;    // its request is still arriving
constexpr uint8_t kPendingWhole = 2;      // in whole, waiting for a door thread
constexpr uint8_t kPendingAnswering = 3;  // a door thread has it

struct PendingConnection {
  std::atomic<uint8_t> state{kPendingFree};
  bool peerClosed = false;  // the peer has closed its side
  int sock = -1;
  int length = 0;          // request bytes read
  int64_t acceptedMs = 0;  // monotonic
  int64_t headEndMs = 0;   // when the head was in whole (a login's body may follow), or 0
  int wholeAt = 0;         // with the head in: the length that makes the request whole
  int64_t lastByteMs = 0;  // when the last bytes came
  Peer peer;               // as accepted
  uint8_t bytes[kRequestHeadMost];
};

// The table. An entry's fields belong to the listener while it is free,
// reading or whole, and to its door thread while answering; the door
// thread hands it back by setting `state` free.
extern PendingConnection pendingTable[kPendingMost];

// The entry whose connection gives way to a newcomer from `newcomer` (16
// address bytes) when the table is full or the newcomer's source holds its
// most; -1 when the newcomer takes a free entry without displacing anyone,
// or kNoRoom when no reading entry may give way. Only reading entries ever
// give way:
//   1. the newcomer's address holds kPerAddressMost: its own oldest;
//   2. its /64 holds kPerNetMost: of that /64's addresses the one holding
//      the most, its oldest; a lone connection of another address in the
//      same /64 goes only when every address there holds one and it is the
//      oldest;
//   3. the table is full: the oldest reading entry.
// So one address's many connections, and one /64's many addresses, never
// take more than their share, and the owner's fresh request, read at once,
// is never the one that gives way.
constexpr int kNoRoom = -2;
int pendingVictim(const PendingConnection* table, int count, const uint8_t* newcomer);

// The listener thread's loop: accepts, reads and hands over until work is
// cleared, then closes what it still holds.
void runPendingLoop(int listenSock);
// A door thread is done with its entry (the connection answered and closed,
// or moved on to a streaming slot): the entry is free again and the
// listener may start another door thread.
void releasePending(int index);
