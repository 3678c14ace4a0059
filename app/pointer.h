// Pointer reports: a browser's "mouse_X: <x>" and "mouse_Y: <y>" lines,
// published for the control loop.
#pragma once

#include <atomic>
#include <cstdint>

// Last pointer position reported by any browser. Written by connection
// threads, read by the control loop; stored before the pointerEvent flags.
extern std::atomic<int32_t> mX;
extern std::atomic<int32_t> mY;
// The hand-over takes no lock, so on every target a store must be one whole
// word written by the processor, not a call into a locking helper.
static_assert(std::atomic<int32_t>::is_always_lock_free);

// Parses the NUL-terminated payload (at most `len` bytes are looked at; the
// text may be modified): when both keys were found, stores mX, mY and raises
// the pointerEvent flags of buttons and sliders; any other text (a ping's or a
// pong's payload, one key alone) leaves the position and the flags as they were.
void wsworkfunc(char* text, int len);
