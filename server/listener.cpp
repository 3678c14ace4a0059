// The listening socket and the listener thread: every accepted connection
// gets the lowest free of five slots and a detached thread of its own.
#include "server/listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "server/connection.h"
#include "server/records.h"

int32_t wsport;
int32_t listener;
sockaddr_in svr_addr;
pthread_t hlistenWSprocess;

namespace {

constexpr int kBacklog = 5;
constexpr int kWakeMillis = 300;                   // look at work this often while idle
constexpr useconds_t kAcceptPauseMicros = 100000;  // at most one new connection per 100 ms
constexpr unsigned kStartPauseSeconds = 1;

// Gives the connection the lowest free slot and its thread; the caller holds
// serverWSmutex. A connection that gets no thread is closed at once, unanswered.
void takeIn(int sock) {
  for (uint8_t i = 0; i < kMaxClients; i++) {
    if (wsserver.busy[i] != 0) continue;
    wsserver.sock = sock;
    wsserver.slotIndex = i;
    wsserver.busy[i] = 255;
    wsserver.clientCount++;
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
      break;
    }
    while (handoverPending) pthread_cond_wait(&handoverTaken, &serverWSmutex);
    return;
  }
  close(sock);
}

}  // namespace

int startWSserver() {
  listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener < 0) {
    printf("not socket.\n");
    return kNoSocket;
  }
  const int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  svr_addr = {};
  svr_addr.sin_family = AF_INET;
  svr_addr.sin_addr.s_addr = htonl(INADDR_ANY);
  svr_addr.sin_port = htons(uint16_t(wsport));
  if (bind(listener, reinterpret_cast<sockaddr*>(&svr_addr), sizeof svr_addr) == -1) {
    close(listener);
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
    const int sock = accept(listener, nullptr, nullptr);
    if (sock < 0) {
      runCopy = workCopy();
      continue;
    }
    pthread_mutex_lock(&serverWSmutex);
    takeIn(sock);
    runCopy = work.load();
    pthread_mutex_unlock(&serverWSmutex);
    usleep(kAcceptPauseMicros);
  }
  pthread_exit(nullptr);
}
