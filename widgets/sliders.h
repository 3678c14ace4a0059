// Sliders: a track and a knob showing a 16-bit value kept in a variable of the
// caller; a fresh pointer report inside a slider sets that value. Every poll
// redraws every slider from its bound variable.
#pragma once

#include <cstdint>

constexpr int kMaxSliders = 32;

struct sliderrec {
  int32_t x, y, w, h;
  uint8_t vertical;  // 255 when created with h > w
  int16_t min, max;
  void* boundVar;  // read and written as a 16-bit signed value (its low 16 bits)
  uint8_t frameR, frameG, frameB;
  uint8_t trackR, trackG, trackB;
  uint8_t used;
};

struct slidertable {
  int32_t count;
  uint8_t pointerEvent;  // as in buttons; always accessed through std::atomic_ref
  sliderrec item[kMaxSliders];
};

extern slidertable sliders;

void slidersINIT();
// 0 created and drawn; -2 table full.
int sliderCREATE(int32_t x, int32_t y, int32_t w, int32_t h, int min, int max, void* boundVar,
                 int frameR, int frameG, int frameB, int trackR, int trackG, int trackB);
void sliderV(int32_t x, int32_t y, int32_t w, int32_t h, int16_t min, int16_t max, int16_t value,
             uint8_t frameR, uint8_t frameG, uint8_t frameB, uint8_t trackR, uint8_t trackG,
             uint8_t trackB);
void sliderH(int32_t x, int32_t y, int32_t w, int32_t h, int16_t min, int16_t max, int16_t value,
             uint8_t frameR, uint8_t frameG, uint8_t frameB, uint8_t trackR, uint8_t trackG,
             uint8_t trackB);
// One poll: sets at most one slider's value, then redraws all.
void sliderCTRL(int32_t px, int32_t py, uint8_t reserved);
