// The listening socket, the listener thread (which holds every connection
// until its request is whole: server/pending.h) and the five streaming
// slots, each taken by a connection whose upgrade was let in.
#include "server/listener.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/clock.h"
#include "door/access_key.h"
#include "door/front_door.h"
#include "net/socket_io.h"
#include "server/connection.h"
#include "server/pending.h"
#include "server/records.h"
#include "server/slot_wake.h"

int32_t wsport;
int32_t listener;
sockaddr_in svr_addr;
pthread_t hlistenWSprocess;
ListenAddress listenAddress;

namespace {

constexpr unsigned kStartPauseSeconds = 1;
constexpr int kAddressLongest = 64;  // longer than any address literal

// A socket bound to the port on listenAddress (every IPv4 interface when
// the setting is not made; an IPv6 address serves IPv4 peers too): the
// socket, kNoSocket or kBindFailed (with the system's reason in bindError).
int boundSocket(int* bindError) {
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
    *bindError = errno;
    close(sock);
    return kBindFailed;
  }
  return sock;
}

// What to do about the usual reasons a bind fails.
const char* bindAdvice(int error) {
  switch (error) {
    case EADDRINUSE: return " (another program holds it: stop that one or choose another port)";
    case EACCES: return " (a port below 1024 needs privilege: choose 1024 or above)";
    case EADDRNOTAVAIL: return " (PANEL_LISTEN names an address this machine does not have)";
    default: return "";
  }
}

// "error bind." and the line after it, in one call so that no other
// thread's line comes between them: the address when PANEL_LISTEN names
// one, the port, and the system's reason.
void printBindFailure(int error) {
  char address[INET6_ADDRSTRLEN + 1] = {};
  if (listenAddress.family == AF_INET6) {
    inet_ntop(AF_INET6, &listenAddress.v6, address, sizeof address - 1);
  } else if (listenAddress.family == AF_INET) {
    inet_ntop(AF_INET, &listenAddress.v4, address, sizeof address - 1);
  }
  char reason[128] = {};
  snprintf(reason, sizeof reason, "%s", strerror(error));
  reason[0] = char(tolower(static_cast<unsigned char>(reason[0])));
  printf("error bind.\nCannot listen on %s%sport %u: %s%s.\n", address, *address ? " " : "",
         unsigned(uint16_t(wsport)), reason, bindAdvice(error));
}

// The port the system chose when the one asked for reads as 0.
void printChosenPort(int sock) {
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return;
  const uint16_t port = bound.ss_family == AF_INET6
                            ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                            : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  printf("The port asked for reads as 0: listening on port %u, chosen by the system.\n",
         unsigned(port));
}

}  // namespace

namespace {

// What the listener knows of each streaming slot's session, for the
// owner's place. All guarded by serverWSmutex but heardMs, which a
// connection thread writes on every read.
constexpr uint8_t kNotAsked = 0;
constexpr uint8_t kAsked = 1;   // asked to give way; its slot goes to the owner
constexpr uint8_t kHanded = 2;  // given way: the slot is the owner's
struct SlotSession {
  bool viewOnly = false;
  uint8_t giveWay = kNotAsked;
  std::atomic<int64_t> heardMs{0};
};
SlotSession slotSessions[kMaxClients];
std::atomic<bool> giveWayAsked[kMaxClients];           // read by the slot's thread every turn
pthread_cond_t slotHanded = PTHREAD_COND_INITIALIZER;  // with serverWSmutex

// Waits, the lock held, until the slot is handed over or the time is up.
bool waitForHandOver(int slot) {
  timespec until = {};
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += kGiveWayMillis / 1000;
  until.tv_nsec += long(kGiveWayMillis % 1000) * 1000000;
  if (until.tv_nsec >= 1000000000) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000;
  }
  while (slotSessions[slot].giveWay != kHanded &&
         pthread_cond_timedwait(&slotHanded, &serverWSmutex, &until) == 0) {
  }
  return slotSessions[slot].giveWay == kHanded;
}

}  // namespace

int takeViewersSlot() {
  if (!accessKeyOn()) return -1;
  pthread_mutex_lock(&serverWSmutex);
  int chosen = -1;
  for (int i = 0; i < kMaxClients; i++) {
    const SlotSession& session = slotSessions[i];
    if (wsserver.busy[i] == 0 || !session.viewOnly || session.giveWay != kNotAsked) continue;
    if (chosen < 0 || session.heardMs.load() < slotSessions[chosen].heardMs.load()) chosen = i;
  }
  if (chosen >= 0) {
    slotSessions[chosen].giveWay = kAsked;
    giveWayAsked[chosen].store(true);
    wakeSlot(chosen);
    const bool handed = waitForHandOver(chosen);
    if (handed) {
      slotSessions[chosen].viewOnly = false;
      slotSessions[chosen].giveWay = kNotAsked;
      giveWayAsked[chosen].store(false);
    } else {
      // Not in time: the slot is freed as usual when its session ends.
      slotSessions[chosen].giveWay = kNotAsked;
      chosen = -1;
    }
  }
  pthread_mutex_unlock(&serverWSmutex);
  return chosen;
}

void noteSlotSession(int slot, bool viewOnly) {
  pthread_mutex_lock(&serverWSmutex);
  slotSessions[slot].viewOnly = viewOnly;
  slotSessions[slot].heardMs.store(monotonicMs());
  pthread_mutex_unlock(&serverWSmutex);
}

void noteHeard(int slot) {
  slotSessions[slot].heardMs.store(monotonicMs(), std::memory_order_relaxed);
}

bool askedToGiveWay(int slot) {
  return giveWayAsked[slot].load();
}

int takeStreamSlot() {
  pthread_mutex_lock(&serverWSmutex);
  int slot = -1;
  for (int i = 0; i < kMaxClients && slot < 0; i++) {
    if (wsserver.busy[i] == 0) slot = i;
  }
  if (slot >= 0) {
    wsserver.busy[slot] = 255;
    wsserver.clientCount++;
  }
  pthread_mutex_unlock(&serverWSmutex);
  return slot;
}

void releaseSlot(uint8_t slotIndex, int sock) {
  if (sock >= 0) {
    shutdown(sock, SHUT_RDWR);
    close(sock);
  }
  pthread_mutex_lock(&serverWSmutex);
  if (slotSessions[slotIndex].giveWay == kAsked) {
    slotSessions[slotIndex].giveWay = kHanded;  // still taken: it is the owner's now
    pthread_cond_broadcast(&slotHanded);
  } else {
    slotSessions[slotIndex].giveWay = kNotAsked;
    giveWayAsked[slotIndex].store(false);
    wsserver.busy[slotIndex] = 0;
    wsserver.clientCount--;
  }
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

// The backlog is the system's largest (SOMAXCONN): the listener takes
// connections as fast as they come, and a flood must not crowd a browser's
// out before the listener sees it.
int startWSserver() {
  int bindError = 0;
  listener = boundSocket(&bindError);
  if (listener == kNoSocket) {
    printf("not socket.\n");
    return kNoSocket;
  }
  if (listener == kBindFailed) {
    printBindFailure(bindError);
    return kBindFailed;
  }
  if (listen(listener, SOMAXCONN) == -1) {
    close(listener);
    printf("error listen.\n");
    return kListenFailed;
  }
  if (uint16_t(wsport) == 0) printChosenPort(listener);
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
  pthread_mutex_lock(&serverWSmutex);
  for (uint8_t& busy : wsserver.busy) busy = 0;
  wsserver.clientCount = 0;
  pthread_mutex_unlock(&serverWSmutex);
  runPendingLoop(listener);
  pthread_exit(nullptr);
}
