// The pending table and the listener's poll loop over it. Every turn: read
// what arrived, settle each entry (whole, late, still reading), start door
// threads for whole requests in the order they were accepted, then accept
// what waits in the backlog, reading each newcomer at once: a browser's
// request is usually there as soon as its connection is, so it is whole
// before any later newcomer could displace it.
#include "server/pending.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "door/front_door.h"
#include "door/http_access.h"
#include "door/http_request.h"
#include "door/routes.h"
#include "net/bounded_log.h"
#include "net/socket_io.h"
#include "server/connection.h"
#include "server/peer_timers.h"
#include "server/records.h"
#include "server/slot_wake.h"

PendingConnection pendingTable[kPendingMost];

namespace {

constexpr int kPauseMs = kSocketWaitMicros / 1000;  // a pause that ends a request
constexpr int kLookMs = 300;                        // look at work this often while idle
constexpr int kAcceptsPerTurn = 64;
constexpr int kFixedPolls = 3;  // the listening socket and two wake-ups

int doorThreads = 0;            // guarded by serverWSmutex
std::atomic<int> doorDone{-1};  // eventfd: a door thread gave its entry back

bool sameAddress(const uint8_t* a, const uint8_t* b) {
  return memcmp(a, b, kPeerAddressBytes) == 0;
}

bool older(const PendingConnection& a, const PendingConnection& b) {
  return a.acceptedMs < b.acceptedMs;
}

// The reading connection of the newcomer's /64 that gives way: of the
// address holding the most of them, the oldest.
int heaviestInNet(const PendingConnection* table, int count, const uint8_t* newcomer) {
  int chosen = -1;
  int chosenHeld = 0;
  for (int i = 0; i < count; ++i) {
    if (table[i].state.load() != kPendingReading || !sameSource(table[i].peer.address, newcomer)) {
      continue;
    }
    int held = 0;
    for (int j = 0; j < count; ++j) {
      held += table[j].state.load() == kPendingReading &&
              sameAddress(table[i].peer.address, table[j].peer.address);
    }
    if (chosen < 0 || held > chosenHeld || (held == chosenHeld && older(table[i], table[chosen]))) {
      chosen = i;
      chosenHeld = held;
    }
  }
  return chosen;
}

// A POST's body length when it is one the server would read, else 0.
int expectedBody(const HttpRequest& request) {
  if (!spanIs(request.method, "POST") || request.contentLength.count != 1) return 0;
  const int length = contentLengthOf(request.contentLength.value, kLoginBodyMost);
  return length > 0 && request.bodyStart + length <= kRequestHeadMost ? length : 0;
}

// Ends a connection the listener holds and frees its entry.
void endPending(PendingConnection& entry) {
  OPENSSL_cleanse(entry.bytes, size_t(entry.length));  // a request may hold a key
  shutdown(entry.sock, SHUT_RDWR);
  close(entry.sock);
  entry.sock = -1;
  entry.length = 0;
  entry.state.store(kPendingFree);
  logLine(kLogClosed, "== Close Client ==\n");
}

// Where a reading entry stands at `now`: still reading, whole (head, and a
// login's body, in; the buffer full; a 0.3 s pause after some bytes; the
// peer gone after some bytes), late (its deadline passed) or a login whose
// body did not come in time after its head.
constexpr int kStillReading = 0;
constexpr int kReadWhole = 1;
constexpr int kReadLate = 2;
constexpr int kBodyLate = 3;
int readingState(const PendingConnection& entry, int64_t now) {
  if (entry.wholeAt > 0) {
    if (entry.length >= entry.wholeAt || entry.peerClosed) return kReadWhole;
    return now - entry.headEndMs >= kBodyWaitMs ? kBodyLate : kStillReading;
  }
  if (entry.length >= kRequestHeadMost) return kReadWhole;
  if (entry.length > 0 && (entry.peerClosed || now - entry.lastByteMs >= kPauseMs)) {
    return kReadWhole;
  }
  return now - entry.acceptedMs >= kRequestDeadlineMs ? kReadLate : kStillReading;
}

// Reads what has arrived; false when the connection ended with nothing.
bool readSome(PendingConnection& entry, int64_t now) {
  const int room = kRequestHeadMost - entry.length;
  if (room <= 0 || entry.peerClosed) return true;
  uint8_t closed = 0;
  const int got = wssRdNow(entry.sock, entry.bytes + entry.length, room, &closed);
  if (got > 0) {
    entry.length += got;
    entry.lastByteMs = now;
    // The head is read as a request only as bytes come, not on every turn.
    const HttpRequest request =
        entry.wholeAt == 0 ? readHttpRequest(entry.bytes, entry.length) : HttpRequest{};
    if (request.headersComplete) {
      entry.headEndMs = now;
      entry.wholeAt = request.bodyStart + expectedBody(request);
    }
  }
  if (closed != 0) entry.peerClosed = true;
  return got != kSocketError && !(entry.peerClosed && entry.length == 0);
}

// Reads, then settles the entry: whole, ended, or still reading.
void readAndSettle(PendingConnection& entry, int64_t now, bool readable) {
  if (readable && !readSome(entry, now)) {
    endPending(entry);
    return;
  }
  switch (readingState(entry, now)) {
    case kReadWhole: entry.state.store(kPendingWhole); break;
    case kReadLate:
      if (entry.length > 0) {
        writeAnswer(entry.sock, textAnswer(408, "Request Timeout", "request not received in time"));
      }
      endPending(entry);
      break;
    case kBodyLate:
      writeAnswer(entry.sock, textAnswer(408, "Request Timeout", "body not received"));
      endPending(entry);
      break;
    default: break;
  }
}

// Starts door threads for whole requests, oldest first, while the budget
// allows.
void startDoorThreads() {
  for (;;) {
    int next = -1;
    for (int i = 0; i < kPendingMost; ++i) {
      if (pendingTable[i].state.load() == kPendingWhole &&
          (next < 0 || older(pendingTable[i], pendingTable[next]))) {
        next = i;
      }
    }
    if (next < 0) return;
    pthread_mutex_lock(&serverWSmutex);
    const bool room = doorThreads < kDoorThreadsMost;
    if (room) doorThreads++;
    pthread_mutex_unlock(&serverWSmutex);
    if (!room) return;
    pendingTable[next].state.store(kPendingAnswering);
    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    const int created = pthread_create(&thread, &attributes, server_con, &pendingTable[next]);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
      pthread_mutex_lock(&serverWSmutex);
      doorThreads--;
      pthread_mutex_unlock(&serverWSmutex);
      endPending(pendingTable[next]);
    }
  }
}

// Takes one connection from the backlog into the table; false when none waits.
bool acceptOne(int listenSock, int64_t now) {
  sockaddr_storage address = {};
  socklen_t size = sizeof address;
  const int sock = accept(listenSock, reinterpret_cast<sockaddr*>(&address), &size);
  if (sock < 0) return false;
  const Peer peer = peerFromAddress(reinterpret_cast<const sockaddr*>(&address));
  watchForDeadPeer(sock);
  const int victim = pendingVictim(pendingTable, kPendingMost, peer.address);
  if (victim == kNoRoom) {
    close(sock);
    logLine(kLogClosed, "== Close Client ==\n");
    return true;
  }
  if (victim >= 0) endPending(pendingTable[victim]);
  for (PendingConnection& entry : pendingTable) {
    if (entry.state.load() != kPendingFree) continue;
    entry.sock = sock;
    entry.peer = peer;
    entry.length = 0;
    entry.peerClosed = false;
    entry.acceptedMs = now;
    entry.headEndMs = 0;
    entry.wholeAt = 0;
    entry.lastByteMs = now;
    entry.state.store(kPendingReading);
    readAndSettle(entry, now, true);
    return true;
  }
  close(sock);  // not reached: a victim or a free entry was found
  return true;
}

// How long the loop may sleep: until the next pause, deadline or body
// deadline of a reading entry; with none, until woken (-1) when the stop
// can wake it and the log holds no count still to print, else kLookMs.
int sleepMillis(int64_t now, bool stopWakes, bool countDue) {
  int64_t due = -1;
  for (const PendingConnection& entry : pendingTable) {
    if (entry.state.load() != kPendingReading) continue;
    int64_t next = entry.acceptedMs + kRequestDeadlineMs;
    if (entry.length > 0 && entry.wholeAt == 0) next = entry.lastByteMs + kPauseMs;
    if (entry.wholeAt != 0) next = entry.headEndMs + kBodyWaitMs;
    if (due < 0 || next < due) due = next;
  }
  if (due < 0) return stopWakes && !countDue ? -1 : kLookMs;
  return due > now ? int(due - now) : 0;
}

}  // namespace

int pendingVictim(const PendingConnection* table, int count, const uint8_t* newcomer) {
  int ownAddress = 0;
  int ownNet = 0;
  int oldestOwn = -1;
  int oldest = -1;
  bool anyFree = false;
  for (int i = 0; i < count; ++i) {
    const uint8_t state = table[i].state.load();
    anyFree = anyFree || state == kPendingFree;
    if (state != kPendingReading) continue;
    if (oldest < 0 || older(table[i], table[oldest])) oldest = i;
    if (!sameSource(table[i].peer.address, newcomer)) continue;
    ownNet++;
    if (!sameAddress(table[i].peer.address, newcomer)) continue;
    ownAddress++;
    if (oldestOwn < 0 || older(table[i], table[oldestOwn])) oldestOwn = i;
  }
  if (ownAddress >= kPerAddressMost) return oldestOwn;
  if (ownNet >= kPerNetMost) return heaviestInNet(table, count, newcomer);
  if (anyFree) return -1;
  return oldest >= 0 ? oldest : kNoRoom;
}

void releasePending(int index) {
  PendingConnection& entry = pendingTable[index];
  entry.sock = -1;
  entry.length = 0;
  entry.state.store(kPendingFree);
  pthread_mutex_lock(&serverWSmutex);
  doorThreads--;
  pthread_mutex_unlock(&serverWSmutex);
  const uint64_t one = 1;
  const int fd = doorDone.load();
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
}

void runPendingLoop(int listenSock) {
  if (doorDone.load() < 0) doorDone.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  fcntl(listenSock, F_SETFL, fcntl(listenSock, F_GETFL) | O_NONBLOCK);
  // The listening socket, the door threads' wake-up, the stop's, then one
  // per reading entry. With nothing pending the loop sleeps until one of
  // them wakes it, unless the stop's wake-up could not be made.
  const int stopWake = openSlotWakes() ? listenerWakeFd() : -1;
  static pollfd ready[kPendingMost + kFixedPolls];
  static bool readable[kPendingMost];
  while (workCopy() != 0) {
    int count = 0;
    ready[count++] = {listenSock, POLLIN, 0};
    ready[count++] = {doorDone.load(), POLLIN, 0};
    ready[count++] = {stopWake, POLLIN, 0};
    for (const PendingConnection& entry : pendingTable) {
      if (entry.state.load() == kPendingReading) ready[count++] = {entry.sock, POLLIN, 0};
    }
    const bool countDue = logTick();
    if (poll(ready, nfds_t(count), sleepMillis(monotonicMs(), stopWake >= 0, countDue)) < 0 &&
        errno != EINTR) {
      break;
    }
    const int64_t now = monotonicMs();
    if (ready[1].revents != 0) {
      uint64_t drained = 0;
      (void)!read(ready[1].fd, &drained, sizeof drained);
    }
    if (ready[2].revents != 0) drainListenerWake();
    // Only the listener makes an entry reading, so the order is the same.
    for (int i = 0, k = kFixedPolls; i < kPendingMost; ++i) {
      readable[i] = pendingTable[i].state.load() == kPendingReading && ready[k++].revents != 0;
    }
    for (int i = 0; i < kPendingMost; ++i) {
      if (pendingTable[i].state.load() == kPendingReading) {
        readAndSettle(pendingTable[i], now, readable[i]);
      }
    }
    startDoorThreads();
    if ((ready[0].revents & POLLIN) != 0) {
      for (int taken = 0; taken < kAcceptsPerTurn && acceptOne(listenSock, now); ++taken) {
      }
      startDoorThreads();
    }
  }
  for (PendingConnection& entry : pendingTable) {
    const uint8_t state = entry.state.load();
    if (state == kPendingReading || state == kPendingWhole) endPending(entry);
  }
}
