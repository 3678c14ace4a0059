// Push buttons: labelled rectangles drawn into the frame buffer and polled by
// the control loop with the pointer. A fresh press inside a button draws it
// pressed at once; once the pointer has let it go (lifted, moved off it, or a
// click that never held it) and the press has been shown long enough, a poll
// raises it and runs its action.
#pragma once

#include <cstdint>

#include "widgets/widget_pointer.h"

constexpr int kMaxButtons = 32;
constexpr int kButtonLabelSize = 32;  // label text plus its NUL

struct buttonrec {
  int32_t x, y, w, h;
  char label[kButtonLabelSize];
  uint8_t faceR, faceG, faceB;
  uint8_t textR, textG, textB;
  uint8_t pressed;  // 255 pressed, 0 raised
  void (*action)();
  uint8_t used;  // 255 taken
  // Control-loop thread only: when the press was drawn, the picture's mark
  // just after it, and whether the pointer has let the button go.
  int64_t pressedAt;  // monotonic milliseconds
  uint32_t pressMark;
  uint8_t letGo;
};

struct buttontable {
  int32_t count;
  // 255: a report with both coordinates arrived and has not pressed a button.
  // Written by connection threads, read and cleared by the control loop:
  // always accessed through std::atomic_ref.
  uint8_t pointerEvent;
  buttonrec item[kMaxButtons];
};

extern buttontable buttons;

void buttonsINIT();
// 0 created and drawn raised; -1 label of 32 or more characters; -2 table full.
int buttonCREATE(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, int faceR,
                 int faceG, int faceB, int textR, int textG, int textB, void (*action)());
void buttonPOP(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, uint8_t faceR,
               uint8_t faceG, uint8_t faceB, uint8_t textR, uint8_t textG, uint8_t textB);
void buttonPUSH(int32_t x, int32_t y, int32_t w, int32_t h, const char* label, uint8_t faceR,
                uint8_t faceG, uint8_t faceB, uint8_t textR, uint8_t textG, uint8_t textB);

// A pressed look stays at least this long, so that a person sees it.
constexpr uint32_t kPressShownMs = 100;
// The longest a let-go press waits for the viewers that must see it.
constexpr uint32_t kPressWaitMs = 400;
// How often a let-go press looks again whether those viewers have it.
constexpr uint32_t kPressLookMs = 20;
constexpr uint32_t kNoLookDue = UINT32_MAX;

// Who must see a press before its button springs back. main sets it once,
// before the control loop, to the screen's picture marks; while seen is null
// nobody is waited for.
struct PressWitness {
  uint32_t (*mark)();           // a mark of the picture as drawn so far
  bool (*seen)(uint32_t mark);  // the picture as of mark was sent to all who must see it
};
extern PressWitness pressWitness;

// One poll of all buttons with the pointer and the time now (monotonic
// milliseconds, base/clock.h); runs at most one action.
void buttonsPoll(const PointerState& pointer, int64_t nowMs);
// Milliseconds until a let-go press may spring back, or kNoLookDue when no
// button waits for time alone.
uint32_t buttonsNextLook(int64_t nowMs);
// buttonsPoll with a click at (px, py), at the monotonic clock's time.
void buttonCTRL(int32_t px, int32_t py, uint8_t reserved);
