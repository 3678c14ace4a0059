// The listening socket and the listener thread: every accepted connection
// gets the lowest free of five slots and a detached thread of its own. When
// none is free, the oldest connection still pending (its request not yet
// read and let in) is ended to make room; with none pending, the newcomer
// is closed unanswered.
#include "server/listener.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "door/front_door.h"
#include "server/connection.h"
#include "server/peer_timers.h"
#include "server/records.h"
#include "server/socket_io.h"

int32_t wsport;
int32_t listener;
sockaddr_in svr_addr;
pthread_t hlistenWSprocess;
ListenAddress listenAddress;
SlotDoor slotDoors[kMaxClients];

namespace {

// Room for connections the listener has not taken yet: it takes them as fast
// as the hand-over allows, and a flood must not crowd a browser's out before
// the listener sees it.
constexpr int kBacklog = 64;
constexpr int kWakeMillis = 300;  // look at work this often while idle
constexpr unsigned kStartPauseSeconds = 1;
constexpr int kAddressLongest = 64;  // longer than any address literal

pthread_cond_t slotFreed = PTHREAD_COND_INITIALIZER;  // with serverWSmutex

int freeSlot() {
  for (int i = 0; i < kMaxClients; i++) {
    if (wsserver.busy[i] == 0) return i;
  }
  return -1;
}

// Ends the oldest pending connection and waits, at most kEvictionWaitMs, for
// its thread to free the slot; the free slot, or -1. The caller holds
// serverWSmutex, which the wait gives up.
int evictOldestPending() {
  const int victim = oldestPending(slotDoors, wsserver.busy, kMaxClients);
  if (victim < 0) return -1;
  // Its thread closes the socket only after marking it -1 under the lock,
  // so the descriptor shut down here is still the victim's.
  if (slotDoors[victim].sock >= 0) shutdown(slotDoors[victim].sock, SHUT_RDWR);
  slotDoors[victim].admitted = true;  // chosen once
  timespec until = {};
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += kEvictionWaitMs / 1000;
  until.tv_nsec += long(kEvictionWaitMs % 1000) * 1000000;
  if (until.tv_nsec >= 1000000000) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000;
  }
  int slot = freeSlot();
  while (slot < 0 && pthread_cond_timedwait(&slotFreed, &serverWSmutex, &until) == 0) {
    slot = freeSlot();
  }
  return slot < 0 ? freeSlot() : slot;
}

// Gives the connection the lowest free slot and its thread; the caller holds
// serverWSmutex. A connection that gets no slot or no thread is closed at
// once, unanswered.
void takeIn(int sock, const Peer& peer) {
  int slot = freeSlot();
  if (slot < 0) slot = evictOldestPending();
  if (slot < 0) {
    close(sock);
    return;
  }
  const uint8_t i = uint8_t(slot);
  wsserver.sock = sock;
  wsserver.slotIndex = i;
  wsserver.busy[i] = 255;
  wsserver.clientCount++;
  slotDoors[i] = SlotDoor{sock, monotonicMs(), false, peer};
  pthread_attr_init(&wsserver.threadAttr[i]);
  pthread_attr_setdetachstate(&wsserver.threadAttr[i], PTHREAD_CREATE_DETACHED);
  handoverPending = true;
  const int created =
      pthread_create(&wsserver.hThread[i], &wsserver.threadAttr[i], server_con, &wsserver);
  pthread_attr_destroy(&wsserver.threadAttr[i]);
  if (created != 0) {
    handoverPending = false;
    wsserver.busy[i] = 0;
    wsserver.clientCount--;
    slotDoors[i].sock = -1;
    close(sock);
    return;
  }
  while (handoverPending) pthread_cond_wait(&handoverTaken, &serverWSmutex);
}

// A socket bound to the port on listenAddress (every IPv4 interface when
// the setting is not made; an IPv6 address serves IPv4 peers too): the
// socket, kNoSocket or kBindFailed.
int boundSocket() {
  const bool v6 = listenAddress.family == AF_INET6;
  const int sock = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock < 0) return kNoSocket;
  const int reuse = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  int bound = -1;
  if (v6) {
    const int v6Only = 0;
    setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = listenAddress.v6;
    address.sin6_port = htons(uint16_t(wsport));
    bound = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    svr_addr = {};
    svr_addr.sin_family = AF_INET;
    svr_addr.sin_addr.s_addr =
        listenAddress.family == AF_INET ? listenAddress.v4.s_addr : htonl(INADDR_ANY);
    svr_addr.sin_port = htons(uint16_t(wsport));
    bound = bind(sock, reinterpret_cast<sockaddr*>(&svr_addr), sizeof svr_addr);
  }
  if (bound == -1) {
    close(sock);
    return kBindFailed;
  }
  return sock;
}

}  // namespace

int oldestPending(const SlotDoor* doors, const uint8_t* busy, int count) {
  int chosen = -1;
  int chosenHeld = 0;
  for (int i = 0; i < count; i++) {
    if (busy[i] == 0 || doors[i].admitted) continue;
    int held = 0;  // pending slots of this one's source
    for (int j = 0; j < count; j++) {
      held += busy[j] != 0 && !doors[j].admitted &&
              sameSource(doors[i].peer.address, doors[j].peer.address);
    }
    if (chosen < 0 || held > chosenHeld ||
        (held == chosenHeld && doors[i].acceptedMs < doors[chosen].acceptedMs)) {
      chosen = i;
      chosenHeld = held;
    }
  }
  return chosen;
}

void markAdmitted(uint8_t slotIndex) {
  pthread_mutex_lock(&serverWSmutex);
  slotDoors[slotIndex].admitted = true;
  pthread_mutex_unlock(&serverWSmutex);
}

void releaseSlot(uint8_t slotIndex, int sock) {
  pthread_mutex_lock(&serverWSmutex);
  slotDoors[slotIndex].sock = -1;
  pthread_mutex_unlock(&serverWSmutex);
  shutdown(sock, SHUT_RDWR);
  close(sock);
  pthread_mutex_lock(&serverWSmutex);
  wsserver.busy[slotIndex] = 0;
  wsserver.clientCount--;
  pthread_cond_broadcast(&slotFreed);
  pthread_mutex_unlock(&serverWSmutex);
}

int readListenAddress(const char* text, ListenAddress& out) {
  out = {};
  const int length = text ? int(strnlen(text, kAddressLongest + 1)) : 0;
  if (length == 0 || length > kAddressLongest) return kListenAddressBad;
  char bare[kAddressLongest + 1] = {};
  const bool bracketed = length > 2 && text[0] == '[' && text[length - 1] == ']';
  memcpy(bare, bracketed ? text + 1 : text, size_t(bracketed ? length - 2 : length));
  if (!bracketed && inet_pton(AF_INET, bare, &out.v4) == 1) {
    out.family = AF_INET;
    return 0;
  }
  if (inet_pton(AF_INET6, bare, &out.v6) == 1) {
    out.family = AF_INET6;
    return 0;
  }
  out = {};
  return kListenAddressBad;
}

int readListenSetting() {
  const char* value = getenv("PANEL_LISTEN");
  if (!value || !*value) return 0;  // an empty value is no setting
  if (readListenAddress(value, listenAddress) == 0) return 0;
  fprintf(stderr,
          "PANEL_LISTEN: \"%s\" is not an IPv4 or IPv6 address such as 127.0.0.1, 0.0.0.0, ::1 "
          "or ::\n",
          value);
  return kListenAddressBad;
}

int startWSserver() {
  listener = boundSocket();
  if (listener == kNoSocket) {
    printf("not socket.\n");
    return kNoSocket;
  }
  if (listener == kBindFailed) {
    printf("error bind.\n");
    return kBindFailed;
  }
  if (listen(listener, kBacklog) == -1) {
    close(listener);
    printf("error listen.\n");
    return kListenFailed;
  }
  work.store(255);
  // Nothing joins the listener, so it is detached: its end leaves nothing behind.
  if (pthread_create(&hlistenWSprocess, nullptr, serverWSlisten, nullptr) == 0) {
    pthread_detach(hlistenWSprocess);
  }
  sleep(kStartPauseSeconds);
  return kListening;
}

void* serverWSlisten(void*) {
  pthread_setname_np(pthread_self(), "ws-listen");  // seen in ps -L and by the tests
  // No connection thread exists yet, so the first look needs no lock.
  uint8_t runCopy = work.load();
  pthread_mutex_lock(&serverWSmutex);
  for (uint8_t& busy : wsserver.busy) busy = 0;
  wsserver.clientCount = 0;
  pthread_mutex_unlock(&serverWSmutex);

  while (runCopy != 0) {
    pollfd pending{listener, POLLIN, 0};
    if (poll(&pending, 1, kWakeMillis) <= 0) {
      runCopy = workCopy();
      continue;
    }
    sockaddr_storage address = {};
    socklen_t size = sizeof address;
    const int sock = accept(listener, reinterpret_cast<sockaddr*>(&address), &size);
    if (sock < 0) {
      runCopy = workCopy();
      continue;
    }
    const Peer peer = peerFromAddress(reinterpret_cast<const sockaddr*>(&address));
    watchForDeadPeer(sock);
    pthread_mutex_lock(&serverWSmutex);
    takeIn(sock, peer);
    runCopy = work.load();
    pthread_mutex_unlock(&serverWSmutex);
  }
  pthread_exit(nullptr);
}
