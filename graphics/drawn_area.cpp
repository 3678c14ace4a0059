// The drawn-area record's state, a panel's note of its own write and the
// slow beat.
#include "graphics/drawn_area.h"

#include "base/clock.h"
#include "graphics/framebuffer.h"

BmpDirtyArea bmpDirty = kBmpCleanArea;
bool bmpNoted = false;
std::atomic<bool> bmpWritten{false};
std::atomic<uint32_t> bmpBeatMillis{kWholeBeatMillis};
std::atomic<BmpDrawnHook> bmpDrawnHook{nullptr};
std::atomic<BmpChangeTest> bmpChangeTest{nullptr};

namespace {

// When the next slow beat is due, in monotonic milliseconds; 0 before the
// first beat, which is due at once. Written under BMPmutex, read without.
std::atomic<int64_t> nextBeat{0};

bool beatDue(int64_t now) {
  if (bmpBeatMillis.load(std::memory_order_relaxed) == 0) return false;
  const int64_t next = nextBeat.load(std::memory_order_relaxed);
  return next == 0 || now >= next;
}

}  // namespace

void bmpNoteWrite(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Cut in 64 bits, so no corner can wrap around.
  bmpNoteBoxWithin(x, y, int64_t(x) + width, int64_t(y) + height, bhfo.width, bhfo.height);
}

bool bmpAreaPending() {
  return bmpWritten.load(std::memory_order_acquire) || beatDue(monotonicMs());
}

int32_t bmpBeatDueInMillis() {
  if (bmpBeatMillis.load(std::memory_order_relaxed) == 0) return -1;
  const int64_t next = nextBeat.load(std::memory_order_relaxed);
  const int64_t left = next == 0 ? 0 : next - monotonicMs();
  return left > 0 ? int32_t(left) : 0;
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
  const int64_t now = monotonicMs();
  if (beatDue(now)) {
    const int64_t next = now + bmpBeatMillis.load(std::memory_order_relaxed);
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
