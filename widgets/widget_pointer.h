// What a widget poll asks of the pointer: is a fresh report waiting in its
// table's pointerEvent byte, and does the position lie strictly inside the
// widget. The byte is shared with the connection threads, which store mX and
// mY first and raise the byte last; it is only ever touched through
// std::atomic_ref so the tables keep their plain layout.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint8_t kEventRaised = 255;

// The pointer's button, as the latest report left it.
constexpr uint8_t kPointerClicked = 0;  // the report had no button line: a press and its lift
constexpr uint8_t kPointerHeld = 1;     // down, and not lifted yet
constexpr uint8_t kPointerLifted = 2;
// Lifted, and the reports before the lift held the pointer: (moveX, moveY)
// is where it was held last, so a drag ends there even when its last moves
// and the lift reach the control loop together.
constexpr uint8_t kPointerReleased = 3;

// The pointer as one poll of the widgets sees it.
struct PointerState {
  int32_t pressX, pressY;  // where the latest press landed (mX, mY)
  int32_t moveX, moveY;    // where the pointer is now (mMoveX, mMoveY)
  uint8_t button;          // kPointerClicked, kPointerHeld, kPointerLifted or kPointerReleased
};

// A click at (px, py): how a report without a button line is seen.
constexpr PointerState clickAt(int32_t px, int32_t py) {
  return {px, py, px, py, kPointerClicked};
}
static_assert(std::atomic_ref<uint8_t>::is_always_lock_free);

inline bool pointerEventRaised(uint8_t& flag) {
  return std::atomic_ref<uint8_t>(flag).load(std::memory_order_acquire) != 0;
}

inline void pointerEventRaise(uint8_t& flag) {
  std::atomic_ref<uint8_t>(flag).store(kEventRaised, std::memory_order_release);
}

inline void pointerEventClear(uint8_t& flag) {
  std::atomic_ref<uint8_t>(flag).store(0, std::memory_order_relaxed);
}

// x < px < x + w and y < py < y + h: the edges themselves are outside. Summed
// in 64 bits so a widget near the end of the 32-bit range cannot wrap round.
constexpr bool strictlyInside(int32_t x, int32_t y, int32_t w, int32_t h, int32_t px, int32_t py) {
  return px > x && int64_t(px) < int64_t(x) + w && py > y && int64_t(py) < int64_t(y) + h;
}
