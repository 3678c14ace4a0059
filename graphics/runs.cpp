// Horizontal and vertical runs: the workhorse under every disc and rectangle,
// and the one place where runs are clipped. A run computes its start address
// once and writes pixel bytes straight into the frame buffer.
//
// Runs take unsigned coordinates and are cut at x2_clip and y2_clip only: a
// run that starts at or beyond a bound draws nothing. A count reaching past
// the bound (even one that would wrap past 2^32) draws up to the bound, so the
// time spent is proportional to what is drawn.
#include "graphics/runs.h"

#include <cstring>

#include "graphics/clip.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"

namespace {

// True when every byte of the pixel at p is the same, so a row of it is a
// memset.
bool uniformPixel(const uint8_t* p) {
  for (uint32_t i = 1; i < bmppar.bytesPerPixel; i++) {
    if (p[i] != p[0]) return false;
  }
  return true;
}

// Repeats the pixel already written at p over the next count - 1 places by
// copying what is done onto what follows, doubling each time.
void repeatPixel(uint8_t* p, uint32_t count) {
  const size_t total = size_t(count) * bmppar.bytesPerPixel;
  if (uniformPixel(p)) {
    memset(p, p[0], total);
    return;
  }
  for (size_t done = bmppar.bytesPerPixel; done < total;) {
    const size_t n = done < total - done ? done : total - done;
    memcpy(p + done, p, n);
    done += n;
  }
}

}  // namespace

void fillRuns(uint32_t x, uint32_t y, uint32_t count, uint32_t rows, uint8_t r, uint8_t g,
              uint8_t b) {
  count = clipRunLength(x, count, x2_clip);
  rows = clipRunLength(y, rows, y2_clip);
  if (count == 0 || rows == 0 || bmppar.bytesPerPixel == 0) return;
  // The first pixel is written by the pixel primitive, so a run stores
  // exactly the bytes a single pixel would; the rest is copied from it.
  bmpNoteWritten(x, y, count, rows);
  bmpPutPixel(x, y, r, g, b);
  uint8_t* first = bmpPixelAddress(x, y);
  const size_t rowBytes = size_t(count) * bmppar.bytesPerPixel;
  if (rowBytes == bmppar.stride) {
    // Whole rows without padding lie end to end: one run covers the block.
    repeatPixel(first, count * rows);
    return;
  }
  repeatPixel(first, count);
  uint8_t* row = first;
  for (uint32_t i = 1; i < rows; i++) {
    row += bmppar.stride;
    memcpy(row, first, rowBytes);
  }
}

void BMP_hline(uint32_t x, uint32_t y, uint32_t count, uint8_t r, uint8_t g, uint8_t b) {
  fillRuns(x, y, count, 1, r, g, b);
}

void BMP_vline(uint32_t x, uint32_t y, uint32_t count, uint8_t r, uint8_t g, uint8_t b) {
  if (clipRunLength(x, 1, x2_clip) == 0) return;
  count = clipRunLength(y, count, y2_clip);
  if (count == 0 || bmppar.bytesPerPixel == 0) return;
  bmpNoteWritten(x, y, 1, count);
  bmpPutPixel(x, y, r, g, b);
  uint8_t* first = bmpPixelAddress(x, y);
  uint8_t* p = first;
  for (uint32_t i = 1; i < count; i++) {
    p += bmppar.stride;
    for (uint32_t k = 0; k < bmppar.bytesPerPixel; k++) p[k] = first[k];
  }
}

void BMP_HLinePX(int32_t x, int32_t y, int32_t count, uint8_t r, uint8_t g, uint8_t b) {
  int64_t start = x;
  int64_t length = count;
  if (start < 0) {
    length += start;  // the part left of column 0 is cut off
    start = 0;
  }
  // The run clips the rest; a row above row 0 is outside.
  if (length <= 0 || !clipContains(start, y)) return;
  fillRuns(uint32_t(start), uint32_t(y), uint32_t(length), 1, r, g, b);
}
