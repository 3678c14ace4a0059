// The drawn-area record: the area of the picture written since the screen
// last took it, so that only that area is compared with what was streamed.
// The pixel primitives widen it under BMPmutex, the screen (server/screen.h)
// takes it and puts kBmpCleanArea back under BMPmutex.
#pragma once

#include <atomic>
#include <cstdint>

#include "graphics/clip.h"

// Pixel columns [left, right) of rows [top, bottom), empty when right is 0;
// whole covers every byte of the file (a load, or a writer that cannot say
// where it wrote).
struct BmpDirtyArea {
  uint32_t left, top, right, bottom;
  bool whole;
};
// Empty, with its edges where any write widens them without a test.
constexpr BmpDirtyArea kBmpCleanArea{UINT32_MAX, UINT32_MAX, 0, 0, false};

// Guarded by BMPmutex.
extern BmpDirtyArea bmpDirty;
// Raised with every widening, so a reader can see without the lock that
// nothing was drawn since it last took the area.
extern std::atomic<bool> bmpWritten;

// Widens bmpDirty by count pixels in each of rows rows from (x, y); the
// caller holds BMPmutex and has clipped the block. Called for every pixel
// BMP_SetPixel sets, so it only takes minima and maxima.
inline void bmpNoteWritten(uint32_t x, uint32_t y, uint32_t count, uint32_t rows) {
  BmpDirtyArea& area = bmpDirty;
  area.left = x < area.left ? x : area.left;
  area.top = y < area.top ? y : area.top;
  area.right = x + count > area.right ? x + count : area.right;
  area.bottom = y + rows > area.bottom ? y + rows : area.bottom;
  bmpWritten.store(true, std::memory_order_relaxed);
}
// Marks the whole file written; the caller holds BMPmutex.
inline void bmpNoteWhole() {
  bmpDirty.whole = true;
  bmpWritten.store(true, std::memory_order_relaxed);
}

// Notes the pixel columns [left, right) of rows [top, bottom), cut to the
// clip, as written: a shape that sets pixels one at a time through
// bmpPutPixel notes its bounding box once, so every pixel it can set lies
// inside the noted area before the screen looks.
inline void clipNoteBox(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > x2_clip) right = x2_clip;
  if (bottom > y2_clip) bottom = y2_clip;
  if (left >= right || top >= bottom) return;
  bmpNoteWritten(uint32_t(left), uint32_t(top), uint32_t(right - left), uint32_t(bottom - top));
}
