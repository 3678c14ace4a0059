// The server's shared records and flags.
#include "server/records.h"

#include "server/slot_wake.h"

std::atomic<uint8_t> work{0};
pthread_mutex_t serverWSmutex = PTHREAD_MUTEX_INITIALIZER;
wsclients wsserver;
std::atomic<PayloadReceiver> payloadReceiver{nullptr};
std::atomic<uint8_t> flagNew{0};

uint8_t workCopy() {
  pthread_mutex_lock(&serverWSmutex);
  const uint8_t runCopy = work.load();
  pthread_mutex_unlock(&serverWSmutex);
  return runCopy;
}

void stopWSserver() {
  pthread_mutex_lock(&serverWSmutex);
  work.store(0);
  pthread_mutex_unlock(&serverWSmutex);
  wakeAllSlots();  // a connection sleeping in poll sees the stop at once
}
