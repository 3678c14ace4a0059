// Push buttons: labelled rectangles drawn into the frame buffer and polled by
// the control loop with the last pointer position. A fresh report inside a
// button presses it; a later poll that no longer finds it hit raises it and
// runs its action.
#pragma once

#include <cstdint>

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
// One poll of all buttons; runs at most one action.
void buttonCTRL(int32_t px, int32_t py, uint8_t reserved);
