// Button creation, the two button looks and the poll that presses and
// releases buttons from the pointer position. The table itself lives in
// button_table.cpp.
#include "widgets/buttons.h"

#include <algorithm>
#include <cstring>

#include "base/clock.h"
#include "graphics/font.h"
#include "graphics/shapes.h"
#include "widgets/widget_canvas.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr uint8_t kPressed = 255;
constexpr uint8_t kUsed = 255;

// The label centred on the button in the 8x8 font, which stays selected. The
// origin is cut to 16 bits, the width of the text routine's coordinates.
void drawLabel(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, uint8_t r, uint8_t g,
               uint8_t b) {
  BMP_SetFont(kFont8x8);
  const char* text = label ? label : "";
  const int32_t n = int32_t(strlen(text) % 256);
  const int16_t tx = int16_t(int64_t(x) + w / 2 - (n * FontBits) / 2);
  const int16_t ty = int16_t(int64_t(y) + h / 2 - FontByts / 2);
  BMP_textout(text, tx, ty, r, g, b, 0, 0, 0, 0);
}

void drawRaised(const buttonrec& b) {
  buttonPOP(b.x, b.y, b.w, b.h, b.label, b.faceR, b.faceG, b.faceB, b.textR, b.textG, b.textB);
}

void drawPressed(const buttonrec& b) {
  buttonPUSH(b.x, b.y, b.w, b.h, b.label, b.faceR, b.faceG, b.faceB, b.textR, b.textG, b.textB);
}

// The press was shown long enough: the minimum has passed, and either every
// viewer that must see it has been sent it or the longest wait is over.
bool shownLongEnough(const buttonrec& b, int64_t now) {
  const int64_t shown = now - b.pressedAt;
  if (shown < kPressShownMs) return false;
  if (shown >= kPressWaitMs || pressWitness.seen == nullptr) return true;
  return pressWitness.seen(b.pressMark);
}

void press(buttonrec& b, uint8_t button, int64_t now) {
  drawPressed(b);
  pointerEventClear(buttons.pointerEvent);
  b.pressed = kPressed;
  b.pressedAt = now;
  b.pressMark = pressWitness.mark != nullptr ? pressWitness.mark() : 0;
  b.letGo = button == kPointerHeld ? 0 : 1;
}

}  // namespace

PressWitness pressWitness{nullptr, nullptr};

int buttonCREATE(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, int faceR,
                 int faceG, int faceB, int textR, int textG, int textB, void (*action)()) {
  int i = 0;
  while (i < kMaxButtons && buttons.item[i].used != 0) i++;
  if (i == kMaxButtons) return -2;
  const char* text = label ? label : "";
  const size_t length = strnlen(text, kButtonLabelSize);
  if (length >= kButtonLabelSize) return -1;

  buttonrec& b = buttons.item[i];
  b.used = kUsed;
  b.x = x;
  b.y = y;
  b.w = w;
  b.h = h;
  memcpy(b.label, text, length + 1);
  b.faceR = uint8_t(faceR);
  b.faceG = uint8_t(faceG);
  b.faceB = uint8_t(faceB);
  b.textR = uint8_t(textR);
  b.textG = uint8_t(textG);
  b.textB = uint8_t(textB);
  b.action = action;
  drawRaised(b);
  buttons.count++;
  return 0;
}

void buttonPOP(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, uint8_t faceR,
               uint8_t faceG, uint8_t faceB, uint8_t textR, uint8_t textG, uint8_t textB) {
  WidgetCanvas canvas(x, y, w, h);
  const uint32_t left = x, bottom = y;
  const uint32_t right = left + uint32_t(w), top = bottom + uint32_t(h);
  // Three outlines, darker from the outside in, around the face.
  for (uint32_t inset = 0, shift = 3; inset < 3; inset++, shift--) {
    BMP_rect(left + inset, bottom + inset, right - inset, top - inset, faceR >> shift,
             faceG >> shift, faceB >> shift);
  }
  BMP_rect_filled(left + 3, bottom + 3, right - 3, top - 3, faceR, faceG, faceB);
  drawLabel(x, y, w, h, label, textR, textG, textB);
}

void buttonPUSH(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, uint8_t faceR,
                uint8_t faceG, uint8_t faceB, uint8_t textR, uint8_t textG, uint8_t textB) {
  WidgetCanvas canvas(x, y, w, h);
  const uint32_t left = x, bottom = y;
  BMP_rect_filled(left, bottom, left + uint32_t(w), bottom + uint32_t(h), faceR >> 1, faceG >> 1,
                  faceB >> 1);
  drawLabel(x, y, w, h, label, textR >> 1, textG >> 1, textB >> 1);
}

void buttonsPoll(const PointerState& pointer, int64_t nowMs) {
  for (int32_t i = 0; i < buttons.count && i < kMaxButtons; i++) {
    buttonrec& b = buttons.item[i];
    if (b.pressed == 0) {
      // One press presses one button: the first that contains it.
      if (strictlyInside(b.x, b.y, b.w, b.h, pointer.pressX, pointer.pressY) &&
          pointerEventRaised(buttons.pointerEvent)) {
        press(b, pointer.button, nowMs);
      }
      continue;
    }
    // A held pointer keeps the button down while it stays on it, as a real
    // button does; moving back onto it before it springs back holds it again.
    const bool held = pointer.button == kPointerHeld &&
                      strictlyInside(b.x, b.y, b.w, b.h, pointer.moveX, pointer.moveY);
    b.letGo = held ? 0 : 1;
    if (held || !shownLongEnough(b, nowMs)) continue;
    drawRaised(b);
    b.pressed = 0;
    b.letGo = 0;
    if (b.action) {
      // At most one action per poll: the buttons after this one wait.
      b.action();
      return;
    }
  }
}

uint32_t buttonsNextLook(int64_t nowMs) {
  uint32_t due = kNoLookDue;
  for (int32_t i = 0; i < buttons.count && i < kMaxButtons; i++) {
    const buttonrec& b = buttons.item[i];
    if (b.pressed == 0 || b.letGo == 0) continue;
    const int64_t shown = nowMs - b.pressedAt;
    uint32_t wait = 0;
    if (shown < kPressShownMs) {
      wait = uint32_t(kPressShownMs - shown);
    } else if (!shownLongEnough(b, nowMs)) {
      wait = uint32_t(std::min<int64_t>(kPressLookMs, kPressWaitMs - shown));
    }
    due = std::min(due, wait);
  }
  return due;
}

void buttonCTRL(int32_t px, int32_t py, uint8_t /*reserved*/) {
  buttonsPoll(clickAt(px, py), monotonicMs());
}
