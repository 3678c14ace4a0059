// The drawn-area record's state, a panel's note of its own write and the
// slow beat.
#include "graphics/drawn_area.h"

#include <time.h>

#include "graphics/framebuffer.h"

BmpDirtyArea bmpDirty = kBmpCleanArea;
bool bmpNoted = false;
std::atomic<bool> bmpWritten{false};
std::atomic<uint32_t> bmpBeatMillis{kWholeBeatMillis};
std::atomic<BmpDrawnHook> bmpDrawnHook{nullptr};
std::atomic<BmpChangeTest> bmpChangeTest{nullptr};

namespace {

// When the next slow beat is due, in monotonic milliseconds (wrapping after
// 49 days, so compared by difference); 0 before the first beat, which is
// due at once. Written under BMPmutex, read without.
std::atomic<uint32_t> nextBeat{0};

uint32_t clockMillis() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(now.tv_sec) * 1000u + uint32_t(now.tv_nsec / 1000000);
}

bool beatDue(uint32_t now) {
  if (bmpBeatMillis.load(std::memory_order_relaxed) == 0) return false;
  const uint32_t next = nextBeat.load(std::memory_order_relaxed);
  return next == 0 || int32_t(now - next) >= 0;
}

}  // namespace

void bmpNoteWrite(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Cut in 64 bits, so no corner can wrap around.
  bmpNoteBoxWithin(x, y, int64_t(x) + width, int64_t(y) + height, bhfo.width, bhfo.height);
}

bool bmpAreaPending() {
  return bmpWritten.load(std::memory_order_acquire) || beatDue(clockMillis());
}

int32_t bmpBeatDueInMillis() {
  if (bmpBeatMillis.load(std::memory_order_relaxed) == 0) return -1;
  const uint32_t next = nextBeat.load(std::memory_order_relaxed);
  const int32_t left = next == 0 ? 0 : int32_t(next - clockMillis());
  return left > 0 ? left : 0;
}

void bmpSettleHold() {
  if (!bmpNoted) return;
  bmpNoted = false;
  if (bmpWritten.load(std::memory_order_relaxed)) return;  // already pending
  const BmpChangeTest changed = bmpChangeTest.load(std::memory_order_acquire);
  if (!bmpDirty.whole && changed != nullptr && !changed(bmpDirty)) {
    // Every noted byte is as the viewers hold it: nothing to take.
    bmpDirty = kBmpCleanArea;
    return;
  }
  bmpWritten.store(true, std::memory_order_release);
  const BmpDrawnHook hook = bmpDrawnHook.load(std::memory_order_acquire);
  if (hook != nullptr) hook();
}

BmpDirtyArea bmpTakeArea() {
  BmpDirtyArea area = bmpDirty;
  const uint32_t now = clockMillis();
  if (beatDue(now)) {
    const uint32_t next = now + bmpBeatMillis.load(std::memory_order_relaxed);
    nextBeat.store(next != 0 ? next : 1, std::memory_order_relaxed);
    // The whole file, not only the pixel rows: an 8-bit picture's palette
    // and any byte outside the rows can be written too.
    area.whole = true;
  }
  bmpDirty = kBmpCleanArea;
  bmpNoted = false;
  bmpWritten.store(false, std::memory_order_relaxed);
  return area;
}
