// Sliders: a track and a knob showing a 16-bit value kept in a variable of the
// caller; a fresh press inside a slider sets that value, and a pointer held
// down from there drags it. Every poll redraws every slider from its bound
// variable.
#pragma once

#include <cstdint>

#include "widgets/widget_pointer.h"

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
  // Control-loop thread only: 255 while a held pointer drags item[dragged].
  uint8_t dragging;
  int32_t dragged;
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
// One poll with the pointer: a fresh press sets at most one slider's value,
// a held pointer that pressed a slider drags it (past its ends it stays at the
// nearest value the pointer can give), a lift after a hold ends the drag
// where the pointer was held last, then every slider is redrawn. The sliders
// whose value the pointer changed, one bit each (bit i: item[i]).
uint32_t slidersPoll(const PointerState& pointer);
// The slider's value as its bound variable holds it now (0 when unbound).
int16_t sliderValue(const sliderrec& slider);
// slidersPoll with a click at (px, py).
void sliderCTRL(int32_t px, int32_t py, uint8_t reserved);
