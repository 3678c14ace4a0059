// The locked drawing interface: each operation takes BMPmutex, calls exactly
// one primitive with its arguments and releases the lock. Code that already
// holds BMPmutex must call the primitives directly (the lock is not recursive).
#pragma once

#include <cstdint>

int setpixel(int64_t x, int64_t y, uint8_t r, uint8_t g, uint8_t b);  // 0 or -1
int line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b);
int circle(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b);
int circlefill(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b);
int rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b);
int rectanglefill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b);
void triangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, uint8_t r,
              uint8_t g, uint8_t b);
void setfont(int32_t code);
void outchar(int32_t code, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
             uint8_t bg, uint8_t bb, uint8_t drawBack);
void textout(const char* text, int32_t x, int32_t y, uint8_t fr, uint8_t fg, uint8_t fb, uint8_t br,
             uint8_t bg, uint8_t bb, uint8_t drawBack);
