// Lines and triangles. An axis-aligned line is a run that leaves out its far
// end; any other line is a Bresenham line with both ends drawn, point by point
// through the pixel primitive, its bounding box noted as written once.
#include "graphics/clip.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"

namespace {

int64_t sign(int64_t v) {
  return (v > 0) - (v < 0);
}

int64_t magnitude(int64_t v) {
  return v < 0 ? -v : v;
}

int64_t smaller(int64_t a, int64_t b) {
  return a < b ? a : b;
}

int64_t larger(int64_t a, int64_t b) {
  return a < b ? b : a;
}

// Bresenham line from (x1, y1) to (x2, y2), both ends drawn. The major axis is
// the one with the larger delta (x on equal deltas); a tie in the decision
// value steps the minor coordinate, and each coordinate steps toward its own
// end, so a line and its reverse may cover different pixels.
//
// Only the steps whose major coordinate lies inside the clip are walked: the
// first of them is reached in closed form, so a line between far-off points
// costs time in proportion to the picture, not to its length.
void do_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  const int64_t dx = int64_t(x2) - x1;
  const int64_t dy = int64_t(y2) - y1;
  const bool xMajor = magnitude(dx) >= magnitude(dy);
  const int64_t bigDelta = xMajor ? magnitude(dx) : magnitude(dy);
  const int64_t smallDelta = xMajor ? magnitude(dy) : magnitude(dx);
  const int64_t majorStep = xMajor ? sign(dx) : sign(dy);
  const int64_t minorStep = xMajor ? sign(dy) : sign(dx);
  const int64_t majorStart = xMajor ? x1 : y1;
  const int64_t minorStart = xMajor ? y1 : x1;
  const int64_t majorBound = xMajor ? x2_clip : y2_clip;
  if (bigDelta == 0) {
    iBMP_SetPixel(x1, y1, r, g, b);
    return;
  }

  // Steps first..last keep the major coordinate within 0 .. majorBound - 1.
  int64_t first = 0;
  int64_t last = 0;
  if (!clipSteps(majorStart, majorStep, bigDelta, majorBound, &first, &last)) return;
  clipNoteBox(smaller(x1, x2), smaller(y1, y2), larger(x1, x2) + 1, larger(y1, y2) + 1);

  // After i steps the minor coordinate has moved floor((2 m i + M) / 2M)
  // times (m, M the small and big deltas); with m i = q M + rest that is
  // q + (2 rest >= M), and the decision value is 2 (rest - M c + m) - M.
  const uint64_t product = uint64_t(smallDelta) * uint64_t(first);
  const int64_t rest = int64_t(product % uint64_t(bigDelta));
  const int64_t carry = 2 * rest >= bigDelta ? 1 : 0;
  const int64_t minorMoves = int64_t(product / uint64_t(bigDelta)) + carry;
  int64_t major = majorStart + majorStep * first;
  int64_t minor = minorStart + minorStep * minorMoves;
  int64_t decision = 2 * (rest - bigDelta * carry + smallDelta) - bigDelta;

  for (int64_t i = first; i <= last; i++) {
    if (xMajor) {
      bmpPutPixel(major, minor, r, g, b);
    } else {
      bmpPutPixel(minor, major, r, g, b);
    }
    if (decision >= 0) {
      minor += minorStep;
      decision += 2 * smallDelta - 2 * bigDelta;
    } else {
      decision += 2 * smallDelta;
    }
    major += majorStep;
  }
}

}  // namespace

void BMP_Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  if (x1 == x2) {
    const uint32_t low = uint32_t(y1) < uint32_t(y2) ? uint32_t(y1) : uint32_t(y2);
    const uint32_t high = uint32_t(y1) < uint32_t(y2) ? uint32_t(y2) : uint32_t(y1);
    BMP_vline(uint32_t(x1), low, high - low, r, g, b);
  } else if (y1 == y2) {
    const uint32_t low = uint32_t(x1) < uint32_t(x2) ? uint32_t(x1) : uint32_t(x2);
    const uint32_t high = uint32_t(x1) < uint32_t(x2) ? uint32_t(x2) : uint32_t(x1);
    BMP_hline(low, uint32_t(y1), high - low, r, g, b);
  } else {
    do_line(x1, y1, x2, y2, r, g, b);
  }
}

void BMP_triangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, uint8_t r,
                  uint8_t g, uint8_t b) {
  BMP_Line(x1, y1, x2, y2, r, g, b);
  BMP_Line(x2, y2, x3, y3, r, g, b);
  BMP_Line(x1, y1, x3, y3, r, g, b);
}
