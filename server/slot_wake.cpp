// One eventfd per slot and one for the listener, and the picture watchers'
// mask.
#include "server/slot_wake.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "graphics/drawn_area.h"
#include "server/records.h"

namespace {

static_assert(kMaxClients <= 8, "one bit per slot in watchers");

// Written once, under the once-control; atomic, since the stop and the
// drawing hook may read them while the first connection makes them. The
// last is the listener's.
constexpr int kListenerWake = kMaxClients;
std::atomic<int> wakeFds[kMaxClients + 1] = {-1, -1, -1, -1, -1, -1};
pthread_once_t wakesMade = PTHREAD_ONCE_INIT;
// Bit s set: slot s watches the picture, or the control map.
std::atomic<uint8_t> watchers{0};
std::atomic<uint8_t> mapWatchers{0};

void setBit(std::atomic<uint8_t>& mask, int slot, bool on) {
  const auto bit = uint8_t(1u << slot);
  if (on) {
    mask.fetch_or(bit, std::memory_order_acq_rel);
  } else {
    mask.fetch_and(uint8_t(~bit), std::memory_order_acq_rel);
  }
}

void makeWakes() {
  for (std::atomic<int>& fd : wakeFds) fd.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  bmpDrawnHook.store(wakeFirstWatcher, std::memory_order_release);
}

void wake(int slot) {
  const uint64_t one = 1;
  const int fd = wakeFds[slot].load();
  // A full counter already means "woken"; nothing else can fail here.
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
}

}  // namespace

bool openSlotWakes() {
  pthread_once(&wakesMade, makeWakes);
  for (const std::atomic<int>& fd : wakeFds) {
    if (fd.load() < 0) return false;
  }
  return true;
}

int slotWakeFd(int slot) {
  return wakeFds[slot].load();
}

void drainSlotWake(int slot) {
  uint64_t count = 0;
  const int fd = wakeFds[slot].load();
  if (fd >= 0) (void)!read(fd, &count, sizeof count);
}

int listenerWakeFd() {
  return wakeFds[kListenerWake].load();
}

void drainListenerWake() {
  drainSlotWake(kListenerWake);
}

void watchPicture(int slot, bool on) {
  setBit(watchers, slot, on);
}

bool firstWatcher(int slot) {
  const unsigned mask = watchers.load(std::memory_order_acquire);
  return mask != 0 && __builtin_ctz(mask) == slot;
}

void wakeFirstWatcher() {
  const unsigned mask = watchers.load(std::memory_order_acquire);
  if (mask != 0) wake(__builtin_ctz(mask));
}

void wakeOtherWatchers(int slot) {
  const unsigned mask = watchers.load(std::memory_order_acquire) & ~(1u << slot);
  for (int other = 0; other < kMaxClients; ++other) {
    if ((mask & (1u << other)) != 0) wake(other);
  }
}

void wakeSlot(int slot) {
  wake(slot);
}

void wakeAllSlots() {
  for (int slot = 0; slot <= kListenerWake; ++slot) wake(slot);
}

void watchControlMap(int slot, bool on) {
  setBit(mapWatchers, slot, on);
}

void wakeControlMapWatchers() {
  const unsigned mask = mapWatchers.load(std::memory_order_acquire);
  for (int slot = 0; slot < kMaxClients; ++slot) {
    if ((mask & (1u << slot)) != 0) wake(slot);
  }
}
