// Slider creation, the two slider looks and the poll that turns a pointer
// report into a value for the bound variable and redraws every slider. The
// table itself lives in slider_table.cpp.
//
// The pixel/value arithmetic is single precision in a fixed order of
// operations: the knob rows and the values written depend on each rounding,
// so float and double are spelt out at every step.
#include "widgets/sliders.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "graphics/shapes.h"
#include "widgets/widget_canvas.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr uint8_t kVertical = 255;
constexpr uint8_t kUsed = 255;
constexpr uint8_t kDragging = 255;
constexpr int32_t kKnobStart = 3;     // the knob's first row or column past the start
constexpr int32_t kScaleInset = 9;    // pixels of the length the knob cannot travel
constexpr int32_t kSmallLength = 19;  // longest slider with the smallest knob
constexpr int32_t kMediumLength = 50;

// A bound variable is read and written as 16 bits at its address. The callers
// bind 32-bit ints; on a little-endian machine the first two bytes are their
// low half, so the high half keeps whatever it held.
static_assert(std::endian::native == std::endian::little,
              "bound variables are written through their low-order first two bytes");

int16_t readBound(const void* var) {
  int16_t value = 0;
  if (var) memcpy(&value, var, sizeof value);
  return value;
}

void writeBound(void* var, int16_t value) {
  if (var) memcpy(var, &value, sizeof value);
}

int32_t knobSize(int32_t length) {
  if (length <= kSmallLength) return 4;
  if (length <= kMediumLength) return 6;
  return 8;
}

// Pixels per unit of value: divided in double, kept in single precision.
float knobScale(int32_t length, int16_t min, int16_t max) {
  const int16_t range = int16_t(max - min);
  if (range == 0) return 0.0f;
  return float(double(int64_t(length) - kScaleInset) / double(std::abs(int32_t(range))));
}

// The knob's distance from its first position, truncated toward zero. Only an
// absurdly long slider can leave the 32-bit range; it is held at the limit.
int32_t knobOffset(int16_t value, float scale) {
  const float offset = float(value) * scale;
  if (offset >= 2147483648.0f) return INT32_MAX;
  if (offset < -2147483648.0f) return INT32_MIN;
  return int32_t(offset);
}

// The value a pointer `along` pixels past the start gives: the span over the
// length, in single precision, truncated and cut to 16 bits. The two ends are
// never offset by min; 0 < along < length, so the result stays below the span.
int16_t pointerValue(int32_t along, int32_t length, int16_t min, int16_t max) {
  const float span = float(std::abs(int32_t(max) - int32_t(min)));
  const float perPixel = span / float(length);
  return int16_t(int32_t(float(along) * perPixel));
}

// Both looks are one layout along the slider's length: black background, two
// outlines, the track, the groove down its middle and the knob across the full
// breadth. A horizontal slider's outlines, track and groove end one pixel
// earlier at the far end than a vertical one's.
void drawLook(bool vertical, int32_t x, int32_t y, int32_t w, int32_t h, int16_t min, int16_t max,
              int16_t value, uint8_t frameR, uint8_t frameG, uint8_t frameB, uint8_t trackR,
              uint8_t trackG, uint8_t trackB) {
  WidgetCanvas canvas(x, y, w, h);
  const int32_t length = vertical ? h : w, breadth = vertical ? w : h;
  const uint32_t start = vertical ? y : x, side = vertical ? x : y;
  const uint32_t end = start + uint32_t(length), sideEnd = side + uint32_t(breadth);
  const uint32_t margin = uint32_t(breadth / 4), middle = side + uint32_t(breadth / 2);
  const uint32_t farEnd = vertical ? end : end - 1;
  // A rectangle given along the length (a) and across it (c).
  using Shape = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint8_t, uint8_t, uint8_t);
  const auto box = [vertical](Shape shape, uint32_t a1, uint32_t c1, uint32_t a2, uint32_t c2,
                              uint8_t r, uint8_t g, uint8_t b) {
    if (vertical) {
      shape(c1, a1, c2, a2, r, g, b);
    } else {
      shape(a1, c1, a2, c2, r, g, b);
    }
  };
  box(BMP_rect_filled, start, side, end, sideEnd, 0, 0, 0);
  box(BMP_rect, start, side + margin, farEnd, sideEnd - margin, frameR >> 1, frameG >> 1,
      frameB >> 1);
  box(BMP_rect, start + 1, side + margin + 1, farEnd - 1, sideEnd - margin - 1, frameR, frameG,
      frameB);
  box(BMP_rect_filled, start + 2, side + margin + 2, farEnd - 2, sideEnd - margin - 2, trackR,
      trackG, trackB);
  box(BMP_rect_filled, start + 3, middle - 1, farEnd - 3, middle + 1, trackR >> 2, trackG >> 2,
      trackB >> 2);
  const uint32_t knob =
      start + kKnobStart + uint32_t(knobOffset(value, knobScale(length, min, max)));
  box(BMP_rect_filled, knob, side, knob + uint32_t(knobSize(length) / 2), sideEnd, frameR, frameG,
      frameB);
}

void redraw(const sliderrec& s) {
  const int16_t value = readBound(s.boundVar);
  auto draw = s.vertical != 0 ? sliderV : sliderH;
  draw(s.x, s.y, s.w, s.h, s.min, s.max, value, s.frameR, s.frameG, s.frameB, s.trackR, s.trackG,
       s.trackB);
}

}  // namespace

int sliderCREATE(int32_t x, int32_t y, int32_t w, int32_t h, int min, int max, void* boundVar,
                 int frameR, int frameG, int frameB, int trackR, int trackG, int trackB) {
  int i = 0;
  while (i < kMaxSliders && sliders.item[i].used != 0) i++;
  if (i == kMaxSliders) return -2;

  sliderrec& s = sliders.item[i];
  s.used = kUsed;
  if (h > w) s.vertical = kVertical;  // a square slider is horizontal
  s.x = x;
  s.y = y;
  s.w = w;
  s.h = h;
  s.min = int16_t(min);
  s.max = int16_t(max);
  s.boundVar = boundVar;
  s.frameR = uint8_t(frameR);
  s.frameG = uint8_t(frameG);
  s.frameB = uint8_t(frameB);
  s.trackR = uint8_t(trackR);
  s.trackG = uint8_t(trackG);
  s.trackB = uint8_t(trackB);
  redraw(s);
  sliders.count++;
  return 0;
}

void sliderV(int32_t x, int32_t y, int32_t w, int32_t h, int16_t min, int16_t max, int16_t value,
             uint8_t frameR, uint8_t frameG, uint8_t frameB, uint8_t trackR, uint8_t trackG,
             uint8_t trackB) {
  drawLook(true, x, y, w, h, min, max, value, frameR, frameG, frameB, trackR, trackG, trackB);
}

void sliderH(int32_t x, int32_t y, int32_t w, int32_t h, int16_t min, int16_t max, int16_t value,
             uint8_t frameR, uint8_t frameG, uint8_t frameB, uint8_t trackR, uint8_t trackG,
             uint8_t trackB) {
  drawLook(false, x, y, w, h, min, max, value, frameR, frameG, frameB, trackR, trackG, trackB);
}

uint32_t slidersPoll(const PointerState& pointer) {
  // A lift after a hold ends the drag after one last step to where the
  // pointer was held, so the moves that came in with the lift still count.
  const bool released = pointer.button == kPointerReleased;
  if (pointer.button != kPointerHeld && !released) sliders.dragging = 0;
  uint32_t moved = 0;
  for (int32_t i = 0; i < sliders.count && i < kMaxSliders; i++) {
    sliderrec& s = sliders.item[i];
    const bool vertical = s.vertical != 0;
    const int32_t length = vertical ? s.h : s.w;
    const int16_t before = readBound(s.boundVar);
    if (strictlyInside(s.x, s.y, s.w, s.h, pointer.pressX, pointer.pressY) &&
        pointerEventRaised(sliders.pointerEvent)) {
      const int32_t along = vertical ? pointer.pressY - s.y : pointer.pressX - s.x;
      writeBound(s.boundVar, pointerValue(along, length, s.min, s.max));
      // One press moves one slider: the first that contains the point.
      pointerEventClear(sliders.pointerEvent);
      if (pointer.button == kPointerHeld || released) {
        sliders.dragging = kDragging;
        sliders.dragged = i;
      }
    }
    if (sliders.dragging != 0 && sliders.dragged == i) {
      // The dragged slider follows the pointer wherever it goes, held to the
      // pixels strictly inside it, the values a press there would give.
      const int64_t along = vertical ? int64_t(pointer.moveY) - s.y : int64_t(pointer.moveX) - s.x;
      if (length >= 2) {
        const int32_t inside = int32_t(std::clamp(along, int64_t(1), int64_t(length) - 1));
        writeBound(s.boundVar, pointerValue(inside, length, s.min, s.max));
      }
    }
    if (readBound(s.boundVar) != before) moved |= 1u << i;
    // Every slider is redrawn, so a bound variable changed elsewhere shows too.
    redraw(s);
  }
  if (released) sliders.dragging = 0;
  return moved;
}

int16_t sliderValue(const sliderrec& slider) {
  return readBound(slider.boundVar);
}

void sliderCTRL(int32_t px, int32_t py, uint8_t /*reserved*/) {
  slidersPoll(clickAt(px, py));
}
