// The locked, clipped drawing frame shared by the buttons and the sliders.
#include "widgets/widget_canvas.h"

WidgetCanvas::WidgetCanvas(int32_t x, int32_t y, int32_t w, int32_t h) {
  savedX1 = x1_clip;
  savedY1 = y1_clip;
  savedX2 = x2_clip;
  savedY2 = y2_clip;
  BMP_GSetClip(x, y, wrapAdd(x, w), wrapAdd(y, h));
}

WidgetCanvas::~WidgetCanvas() {
  // The clip is put back before the lock member lets BMPmutex go.
  BMP_GSetClip(savedX1, savedY1, savedX2, savedY2);
}
