// Frame-buffer state and the pixel primitives.
#include "graphics/framebuffer.h"

#include "graphics/drawn_area.h"

alignas(kPictureAlign) uint8_t BMP_DUMP[kFrameBufferSize];
BmpFileHeader bhfi;
uint8_t bhfor[kInfoHeaderMax];
BmpInfoHeader bhfo;
BmpGeometry bmppar;
// Statically initialised with default attributes, so the lock is usable by any
// code (tests included) before bmpfilework runs.
pthread_mutex_t BMPmutex = PTHREAD_MUTEX_INITIALIZER;
pthread_t thBMP;

namespace {

constexpr uint8_t kExtraByte = 255;  // bytes past blue, green, red: opaque alpha

}  // namespace

int bmpPutPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b) {
  if (!clipContains(x, y)) return -1;
  const uint8_t colour[3] = {b, g, r};
  uint8_t* p = bmpPixelAddress(uint32_t(x), uint32_t(y));
  for (uint32_t i = 0; i < bmppar.bytesPerPixel; i++) p[i] = i < 3 ? colour[i] : kExtraByte;
  return 0;
}

int BMP_SetPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b) {
  if (bmpPutPixel(x, y, r, g, b) != 0) return -1;
  bmpNoteWritten(uint32_t(x), uint32_t(y), 1, 1);
  return 0;
}

int iBMP_SetPixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b) {
  return BMP_SetPixel(x, y, r, g, b);
}

int BMP_GetPixel(int64_t x, int64_t y, uint8_t* r, uint8_t* g, uint8_t* b) {
  if (!clipContains(x, y)) return -1;
  const uint8_t* p = bmpPixelAddress(uint32_t(x), uint32_t(y));
  const uint32_t n = bmppar.bytesPerPixel;
  // Components the pixel does not hold read as 0.
  *b = n > 0 ? p[0] : 0;
  *g = n > 1 ? p[1] : 0;
  *r = n > 2 ? p[2] : 0;
  return 0;
}

int BMP_XchangePixel(int64_t x, int64_t y, uint8_t newR, uint8_t newG, uint8_t newB, uint8_t oldR,
                     uint8_t oldG, uint8_t oldB) {
  if (!clipContains(x, y)) return -1;
  const uint8_t oldColour[3] = {oldB, oldG, oldR};
  const uint8_t newColour[3] = {newB, newG, newR};
  // Only the colour bytes take part; a fourth byte keeps its own value.
  const uint32_t n = bmppar.bytesPerPixel < 3 ? bmppar.bytesPerPixel : 3;
  uint8_t* p = bmpPixelAddress(uint32_t(x), uint32_t(y));
  for (uint32_t i = 0; i < n; i++) {
    if (p[i] != oldColour[i]) return 0;
  }
  for (uint32_t i = 0; i < n; i++) p[i] = newColour[i];
  bmpNoteWritten(uint32_t(x), uint32_t(y), 1, 1);
  return 0;
}
