// The drawing frame every widget look is made in: BMPmutex held, the clip set
// to the widget's rectangle, and the caller's clip put back afterwards. Also
// the wrapping coordinate sums the widgets draw with, so that rectangles at
// the far ends of the 32-bit range stay defined.
#pragma once

#include <cstdint>

#include "graphics/framebuffer.h"

// Locks BMPmutex, saves the four clip globals and clips to (x, y, x + w, y + h)
// for the lifetime of the object; restores the clip and unlocks on the way
// out. The lock is not recursive: never create one while holding BMPmutex.
class WidgetCanvas {
 public:
  WidgetCanvas(int32_t x, int32_t y, int32_t w, int32_t h);
  ~WidgetCanvas();
  WidgetCanvas(const WidgetCanvas&) = delete;
  WidgetCanvas& operator=(const WidgetCanvas&) = delete;

 private:
  FrameLock lock;
  int32_t savedX1, savedY1, savedX2, savedY2;
};

// a + b with 32-bit wrap-around, as the rectangle corners are formed.
constexpr int32_t wrapAdd(int32_t a, int32_t b) {
  return int32_t(uint32_t(a) + uint32_t(b));
}
