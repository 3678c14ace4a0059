// Rectangles: the outline and the filled rectangle in unsigned coordinates,
// built from runs; the clipped filled rectangle and the colour exchange in
// signed coordinates, cut to the clip rectangle on all sides.
#include "graphics/clip.h"
#include "graphics/framebuffer.h"
#include "graphics/runs.h"
#include "graphics/shapes.h"

namespace {

template <typename T>
void order(T& low, T& high) {
  if (low > high) {
    const T t = low;
    low = high;
    high = t;
  }
}

// Pixels from low to high inclusive; a span of 2^32 pixels (from 0 to the
// largest value) is held at the largest count, which reaches past any clip.
uint32_t spanLength(uint32_t low, uint32_t high) {
  const uint64_t length = uint64_t(high) - low + 1;
  return length > UINT32_MAX ? UINT32_MAX : uint32_t(length);
}

}  // namespace

void BMP_rect(uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  order(x1, x2);
  order(y1, y2);
  const uint32_t w = spanLength(x1, x2);
  const uint32_t h = spanLength(y1, y2);
  BMP_hline(x1, y1, w, r, g, b);
  if (h > 1) BMP_hline(x1, y2, w, r, g, b);
  BMP_vline(x1, y1, h, r, g, b);
  if (w > 1) BMP_vline(x2, y1, h, r, g, b);
}

void BMP_rect_filled(uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2, uint8_t r, uint8_t g,
                     uint8_t b) {
  order(x1, x2);
  order(y1, y2);
  fillRuns(x1, y1, spanLength(x1, x2), spanLength(y1, y2), r, g, b);
}

void BMP_RectFilledPX(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g,
                      uint8_t b) {
  ClippedRect c;
  if (!clipRect(x1, y1, x2, y2, &c)) return;
  fillRuns(uint32_t(c.x1), uint32_t(c.y1), uint32_t(c.x2 - c.x1 + 1), uint32_t(c.y2 - c.y1 + 1), r,
           g, b);
}

void BMP_rectXchange(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t newR, uint8_t newG,
                     uint8_t newB, uint8_t oldR, uint8_t oldG, uint8_t oldB) {
  ClippedRect c;
  if (!clipRect(x1, y1, x2, y2, &c)) return;
  for (int32_t row = c.y1; row <= c.y2; row++) {
    for (int32_t column = c.x1; column <= c.x2; column++) {
      BMP_XchangePixel(column, row, newR, newG, newB, oldR, oldG, oldB);
    }
  }
}
