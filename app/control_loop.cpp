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
#include "server/slot_wake.h"
#include "widgets/buttons.h"
#include "widgets/control_map.h"
#include "widgets/widget_kinds.h"

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

// One poll of every widget kind, in the list's order, each with the pointer
// as it is then; the panel hears of every slider the pointer moved right
// after the slider poll. Then the control map is published when it changed,
// and the connections that asked for it are woken.
void pollWidgets(int64_t now, void (*sliderMoved)(int index)) {
  for (const WidgetKind& kind : kWidgetKinds) {
    uint32_t moved = kind.poll(pointerState(), now);
    if (kind.id != WidgetKindId::kSlider || sliderMoved == nullptr) continue;
    for (int index = 0; moved != 0; ++index, moved >>= 1) {
      if ((moved & 1u) != 0) sliderMoved(index);
    }
  }
  if (publishControlMap()) wakeControlMapWatchers();
}

// The soonest look a widget kind asks for, from now.
uint32_t nextWidgetLook(int64_t now) {
  uint32_t due = kNoLookDue;
  for (const WidgetKind& kind : kWidgetKinds) due = std::min(due, kind.nextLook(now));
  return due;
}

}  // namespace

void wakeControlLoop() {
  {
    std::lock_guard<std::mutex> hold(wakeLock);
    wakeCount++;
  }
  wakeSignal.notify_one();
}

void runControlLoop(void (*turn)(), void (*sliderMoved)(int index)) {
  uint32_t polled = wakesSoFar();
  int64_t nextTurn = monotonicMs();
  while (work.load() != 0 && stopSignals.load() == 0) {
    pollWidgets(monotonicMs(), sliderMoved);
    int64_t now = monotonicMs();
    if (now >= nextTurn) {
      if (turn != nullptr) turn();
      // The beat does not drift, and does not hurry to catch up after a
      // turn that came late.
      nextTurn += kControlPeriodMs;
      now = monotonicMs();
      if (now >= nextTurn) nextTurn = now + kControlPeriodMs;
    }
    const int64_t wait = std::min<int64_t>(nextTurn - now, nextWidgetLook(now));
    polled = sleepUntilWoken(polled, uint32_t(std::min<int64_t>(wait, kControlPeriodMs)));
  }
}
