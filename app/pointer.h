// Pointer reports: a browser's "mouse_X: <x>" and "mouse_Y: <y>" lines, and
// the optional "mouse_button: down|move|up" line of a page that tells when the
// pointer is held, published for the control loop.
#pragma once

#include <atomic>
#include <cstdint>

#include "widgets/widget_pointer.h"

// Where the latest press landed: a report without a button line (a click) or
// with "down". Written by connection threads, read by the control loop;
// stored before the pointerEvent flags.
extern std::atomic<int32_t> mX;
extern std::atomic<int32_t> mY;
// Where the pointer is now: the latest report with both coordinates, moves
// of a held pointer included.
extern std::atomic<int32_t> mMoveX;
extern std::atomic<int32_t> mMoveY;
// The pointer's button as the latest report left it: kPointerClicked,
// kPointerHeld, kPointerLifted, or kPointerReleased for a lift that followed
// a press or a move holding the pointer (widgets/widget_pointer.h).
extern std::atomic<uint8_t> mButton;
// The hand-over takes no lock, so on every target a store must be one whole
// word written by the processor, not a call into a locking helper.
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<uint8_t>::is_always_lock_free);

// Parses the NUL-terminated payload (at most `len` bytes are looked at; the
// text may be modified). A report with both keys stores the position and
// raises the pointerEvent flag of every widget kind (a move only moves
// mMoveX, mMoveY); "mouse_button: up" alone marks the pointer lifted, or
// released when it was held. Text
// that is neither (a ping's or a pong's payload, one key alone) changes
// nothing. Whatever it stores wakes the control loop. The result is what the
// payload did to the pointer: kPayloadHolds, kPayloadLetsGo or
// kPayloadNeither (server/records.h).
int wsworkfunc(char* text, int len);

// The pointer as the control loop's polls see it, read from the values above.
PointerState pointerState();
