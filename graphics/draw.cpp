// The locked drawing interface: each operation holds BMPmutex for exactly one
// primitive call, so the screen streaming never copies a half-drawn shape.
#include "graphics/draw.h"

#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"

int setpixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  return BMP_SetPixel(x, y, r, g, b);
}

int line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_Line(x1, y1, x2, y2, r, g, b);
  return 0;
}

int circle(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_Circle(cx, cy, radius, r, g, b);
  return 0;
}

int circlefill(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_Circlefill(cx, cy, radius, r, g, b);
  return 0;
}

int rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_rect(uint32_t(x1), uint32_t(y1), uint32_t(x2), uint32_t(y2), r, g, b);
  return 0;
}

int rectanglefill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_rect_filled(uint32_t(x1), uint32_t(y1), uint32_t(x2), uint32_t(y2), r, g, b);
  return 0;
}

void triangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, uint8_t r,
              uint8_t g, uint8_t b) {
  FrameLock lock;
  BMP_triangle(x1, y1, x2, y2, x3, y3, r, g, b);
}

void setfont(int32_t code) {
  FrameLock lock;
  BMP_SetFont(code);
}

void outchar(int32_t code, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
             uint8_t bg, uint8_t bb, uint8_t drawBack) {
  FrameLock lock;
  BMP_outchar(uint8_t(code), x, y, fr, fg, fb, br, bg, bb, drawBack);
}

void textout(const char* text, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
             uint8_t bg, uint8_t bb, uint8_t drawBack) {
  FrameLock lock;
  BMP_textout(text, int16_t(x), int16_t(y), fr, fg, fb, br, bg, bb, drawBack);
}
