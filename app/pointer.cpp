// Pointer reports: a browser sends its pointer position as two lines of text,
// "mouse_X: <x>" and "mouse_Y: <y>", each ended by CR or LF. The parser stores
// the coordinates in mX and mY and, only when both keys were present, raises
// the pointerEvent flags of the button and slider tables for the control loop.
#include "app/pointer.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "server/key_value.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

std::atomic<int32_t> mX{0};
std::atomic<int32_t> mY{0};

namespace {

// A value keeps at most 63 characters and its terminating zero.
constexpr size_t kValueSize = 64;

// Extracts key into a fresh buffer and stores its value (0 when absent).
// 1 when the key was found, else 0.
int readCoordinate(char* text, size_t textLen, const char* key, std::atomic<int32_t>& target) {
  char value[kValueSize];
  memset(value, 0, sizeof value);
  const int found = strval(text, key, value, textLen, sizeof value);
  target.store(decimalValue(value));
  return found;
}

}  // namespace

void wsworkfunc(char* text, int len) {
  if (text == nullptr || len <= 0) return;
  const size_t textLen = size_t(len);
  const int foundX = readCoordinate(text, textLen, "mouse_X:", mX);
  const int foundY = readCoordinate(text, textLen, "mouse_Y:", mY);
  if (!foundX || !foundY) return;
  // Raised last and with release order, so the coordinates are stored before
  // any thread can see a flag.
  pointerEventRaise(buttons.pointerEvent);
  pointerEventRaise(sliders.pointerEvent);
}
