// Pointer reports: a browser sends its pointer position as two lines of text,
// "mouse_X: <x>" and "mouse_Y: <y>", each ended by CR or LF. A page that tells
// when the pointer is held adds "mouse_button: down" to the report of a press,
// "mouse_button: move" to the reports of a held pointer that moves, and sends
// "mouse_button: up" alone when it lifts; a server that does not know the line
// reads the reports as clicks. The parser publishes what it read for the
// control loop and wakes it.
#include "app/pointer.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "app/control_loop.h"
#include "server/key_value.h"
#include "server/records.h"
#include "widgets/widget_kinds.h"
#include "widgets/widget_pointer.h"

std::atomic<int32_t> mX{0};
std::atomic<int32_t> mY{0};
std::atomic<int32_t> mMoveX{0};
std::atomic<int32_t> mMoveY{0};
std::atomic<uint8_t> mButton{kPointerClicked};

namespace {

// A value keeps at most 63 characters and its terminating zero.
constexpr size_t kValueSize = 64;

// What the button line said.
enum class ButtonLine { kNone, kDown, kMove, kUp };

// Extracts key into a fresh buffer and stores its value in `value` (0 when
// absent). 1 when the key was found, else 0.
int readCoordinate(char* text, size_t textLen, const char* key, int32_t* value) {
  char digits[kValueSize];
  memset(digits, 0, sizeof digits);
  const int found = strval(text, key, digits, textLen, sizeof digits);
  *value = decimalValue(digits);
  return found;
}

// An unknown word reads as no line at all: the report is then a click.
ButtonLine readButtonLine(char* text, size_t textLen) {
  char word[kValueSize];
  memset(word, 0, sizeof word);
  if (!strval(text, "mouse_button:", word, textLen, sizeof word)) return ButtonLine::kNone;
  if (strcmp(word, "down") == 0) return ButtonLine::kDown;
  if (strcmp(word, "move") == 0) return ButtonLine::kMove;
  if (strcmp(word, "up") == 0) return ButtonLine::kUp;
  return ButtonLine::kNone;
}

}  // namespace

int wsworkfunc(char* text, int len) {
  if (text == nullptr || len <= 0) return kPayloadNeither;
  const size_t textLen = size_t(len);
  int32_t x = 0, y = 0;
  const int foundX = readCoordinate(text, textLen, "mouse_X:", &x);
  const int foundY = readCoordinate(text, textLen, "mouse_Y:", &y);
  const ButtonLine button = readButtonLine(text, textLen);
  if (button == ButtonLine::kUp) {
    // The lift is sent alone (an older server then reads no report in it).
    // After a press or a move that held the pointer it is a release: the
    // control loop then takes the held place before the lift, even when it
    // sees both at once.
    const uint8_t was = mButton.load();
    mButton.store(was == kPointerHeld || was == kPointerReleased ? kPointerReleased
                                                                 : kPointerLifted);
    wakeControlLoop();
    return kPayloadLetsGo;
  }
  // A frame without both coordinates (a ping or a pong that reaches here, a
  // keep-alive of some client library) must not move the pointer: a press
  // waiting for the control loop would be seen elsewhere and lost.
  if (!foundX || !foundY) return kPayloadNeither;
  mMoveX.store(x);
  mMoveY.store(y);
  if (button == ButtonLine::kMove) {
    // A held pointer's move presses nothing: only the pointer's place moves.
    mButton.store(kPointerHeld);
    wakeControlLoop();
    return kPayloadHolds;
  }
  mX.store(x);
  mY.store(y);
  mButton.store(button == ButtonLine::kDown ? kPointerHeld : kPointerClicked);
  // Raised last and with release order, so the position and the button are
  // stored before any thread can see a flag.
  for (const WidgetKind& kind : kWidgetKinds) pointerEventRaise(*kind.pointerEvent);
  wakeControlLoop();
  return button == ButtonLine::kDown ? kPayloadHolds : kPayloadLetsGo;
}

PointerState pointerState() {
  // Each value is read whole; a report that lands between the reads has
  // woken the control loop again, so its next poll sees it whole.
  const uint8_t button = mButton.load();
  return {mX.load(), mY.load(), mMoveX.load(), mMoveY.load(), button};
}
