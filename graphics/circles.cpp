// Circle outlines and discs, both from the midpoint circle iteration with
// second-order differences. Outlines are drawn point by point through the
// pixel primitive, their bounding box noted as written once; discs are drawn as horizontal runs,
// each of half-width w covering columns cx - w to cx + w - 1. A negative radius draws nothing.
#include "graphics/clip.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"

namespace {

// One octant of the circle, walked from the top (x = 0, y = radius) until
// x passes y. Values are 64-bit so that no radius overflows them.
struct Midpoint {
  int64_t x = 0;
  int64_t y;
  int64_t d;
  int64_t dE = 3;
  int64_t dSE;

  explicit Midpoint(int32_t radius)
      : y(radius), d(1 - int64_t(radius)), dSE(5 - 2 * int64_t(radius)) {}

  // True when this step lowers y: the rows at y are then at their widest.
  bool lowersY() const { return d >= 0; }

  void step() {
    if (d < 0) {
      d += dE;
      dE += 2;
      dSE += 2;
    } else {
      d += dSE;
      dE += 2;
      dSE += 4;
      y -= 1;
    }
    x += 1;
  }
};

// A disc row of 2 * half pixels from column cx - half. As with any run in
// unsigned coordinates, a row that starts left of column 0 or below row 0 is
// dropped whole; a row without width (a ragged disc narrowed past its centre)
// draws nothing.
void discRun(int64_t cx, int64_t row, int64_t half, uint8_t r, uint8_t g, uint8_t b) {
  const int64_t start = cx - half;
  const int64_t count = 2 * half;
  if (count <= 0 || !clipContains(start, row)) return;
  BMP_hline(uint32_t(start), uint32_t(row), count > UINT32_MAX ? UINT32_MAX : uint32_t(count), r, g,
            b);
}

// The disc, widened by w pixels on each side of every run; when ragged, w
// alternates between -1 and 1 after the first pair of rows.
void discRuns(int32_t cx, int32_t cy, int32_t radius, int32_t w, bool ragged, uint8_t r, uint8_t g,
              uint8_t b) {
  if (radius < 0) return;
  Midpoint m(radius);
  int64_t widening = w;
  do {
    discRun(cx, int64_t(cy) - m.x, m.y + widening, r, g, b);
    if (m.x != 0) discRun(cx, int64_t(cy) + m.x, m.y + widening, r, g, b);
    if (m.lowersY() && m.x != m.y) {
      discRun(cx, int64_t(cy) - m.y, m.x + widening, r, g, b);
      if (m.y != 0) discRun(cx, int64_t(cy) + m.y, m.x + widening, r, g, b);
    }
    if (ragged) widening = widening == 1 ? -1 : 1;
    m.step();
  } while (m.x <= m.y);
}

}  // namespace

void BMP_Circle(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b) {
  if (radius < 0) return;
  Midpoint m(radius);
  const int64_t x0 = cx;
  const int64_t y0 = cy;
  clipNoteBox(x0 - radius, y0 - radius, x0 + radius + 1, y0 + radius + 1);
  // Each distinct point of the eight symmetric ones is drawn once.
  do {
    const int64_t x = m.x;
    const int64_t y = m.y;
    bmpPutPixel(x0 + x, y0 + y, r, g, b);
    if (x != 0) bmpPutPixel(x0 - x, y0 + y, r, g, b);
    if (y != 0) bmpPutPixel(x0 + x, y0 - y, r, g, b);
    if (x != 0 && y != 0) bmpPutPixel(x0 - x, y0 - y, r, g, b);
    if (x != y) {
      bmpPutPixel(x0 + y, y0 + x, r, g, b);
      if (x != 0) bmpPutPixel(x0 + y, y0 - x, r, g, b);
      if (y != 0) bmpPutPixel(x0 - y, y0 + x, r, g, b);
      if (x != 0 && y != 0) bmpPutPixel(x0 - y, y0 - x, r, g, b);
    }
    m.step();
  } while (m.x <= m.y);
}

void BMP_Circlefill(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b) {
  discRuns(cx, cy, radius, 0, false, r, g, b);
}

void BMP_Circlefill_fuzzy(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b,
                          int32_t widening) {
  discRuns(cx, cy, radius, widening, true, r, g, b);
}
