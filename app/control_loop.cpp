// The control loop: the only driver of the application. It sleeps until a
// pointer report wakes it, a pressed button is due to spring back, or the
// 300 ms beat comes round; each wake polls the widgets with the pointer as it
// is then. The panel's per-turn function keeps the 300 ms beat whatever wakes
// the loop, so a panel that counts turns counts time.
#include "app/control_loop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "app/pointer.h"
#include "app/stop_signals.h"
#include "base/clock.h"
#include "server/records.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr uint32_t kControlPeriodMs = 300;

// The wake: a count of wakes asked for, guarded by wakeLock, and the signal
// the loop waits on. Counting, not a flag: the loop compares the count with
// the one it last polled for, so no wake between two waits is lost.
std::mutex wakeLock;
std::condition_variable wakeSignal;
uint32_t wakeCount = 0;

uint32_t wakesSoFar() {
  std::lock_guard<std::mutex> hold(wakeLock);
  return wakeCount;
}

// Sleeps up to waitMs or until a wake newer than `polled`; returns the count.
uint32_t sleepUntilWoken(uint32_t polled, uint32_t waitMs) {
  std::unique_lock<std::mutex> hold(wakeLock);
  wakeSignal.wait_for(hold, std::chrono::milliseconds(waitMs),
                      [polled] { return wakeCount != polled; });
  return wakeCount;
}

PointerState pointerNow() {
  // Each value is read whole; a report that lands between the reads has
  // woken the loop again, so the next poll sees it whole.
  const uint8_t button = mButton.load();
  return {mX.load(), mY.load(), mMoveX.load(), mMoveY.load(), button};
}

}  // namespace

void wakeControlLoop() {
  {
    std::lock_guard<std::mutex> hold(wakeLock);
    wakeCount++;
  }
  wakeSignal.notify_one();
}

void runControlLoop(void (*turn)()) {
  uint32_t polled = wakesSoFar();
  int64_t nextTurn = monotonicMs();
  while (work.load() != 0 && stopSignals.load() == 0) {
    buttonsPoll(pointerNow(), monotonicMs());
    slidersPoll(pointerNow());
    int64_t now = monotonicMs();
    if (now >= nextTurn) {
      if (turn != nullptr) turn();
      // The beat does not drift, and does not hurry to catch up after a
      // turn that came late.
      nextTurn += kControlPeriodMs;
      now = monotonicMs();
      if (now >= nextTurn) nextTurn = now + kControlPeriodMs;
    }
    const int64_t wait = std::min<int64_t>(nextTurn - now, buttonsNextLook(now));
    polled = sleepUntilWoken(polled, uint32_t(std::min<int64_t>(wait, kControlPeriodMs)));
  }
}
