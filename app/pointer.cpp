// Pointer reports: a browser sends its pointer position as two lines of text,
// "mouse_X: <x>" and "mouse_Y: <y>", each ended by CR or LF. The parser stores
// the coordinates in mX and mY and raises the pointerEvent flags of the button
// and slider tables for the control loop, only when both keys were present.
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

// Extracts key into a fresh buffer and stores its value in `value` (0 when
// absent). 1 when the key was found, else 0.
int readCoordinate(char* text, size_t textLen, const char* key, int32_t* value) {
  char digits[kValueSize];
  memset(digits, 0, sizeof digits);
  const int found = strval(text, key, digits, textLen, sizeof digits);
  *value = decimalValue(digits);
  return found;
}

}  // namespace

void wsworkfunc(char* text, int len) {
  if (text == nullptr || len <= 0) return;
  const size_t textLen = size_t(len);
  int32_t x = 0, y = 0;
  const int foundX = readCoordinate(text, textLen, "mouse_X:", &x);
  const int foundY = readCoordinate(text, textLen, "mouse_Y:", &y);
  // A frame without both coordinates (a ping or a pong that reaches here, a
  // keep-alive of some client library) must not move the pointer: a press
  // waiting for the control loop would be seen elsewhere and lost.
  if (!foundX || !foundY) return;
  mX.store(x);
  mY.store(y);
  // Raised last and with release order, so the coordinates are stored before
  // any thread can see a flag.
  pointerEventRaise(buttons.pointerEvent);
  pointerEventRaise(sliders.pointerEvent);
}
