// Lines and shapes drawn in one solid colour into the frame buffer, clipped
// against the clip rectangle. None of them takes a lock: the caller holds
// BMPmutex for the whole call. Colours are red, green, blue, always last.
//
// Two coordinate families: the runs and rectangles take unsigned values, so a
// negative start is a huge number beyond the clip and the run is dropped whole;
// lines, circles and the clipped forms take signed values and are cut.
#pragma once

#include <cstdint>

// Runs: count pixels to the right (hline) or upwards (vline).
void BMP_hline(uint32_t x, uint32_t y, uint32_t count, uint8_t r, uint8_t g, uint8_t b);
void BMP_vline(uint32_t x, uint32_t y, uint32_t count, uint8_t r, uint8_t g, uint8_t b);
// Run clipped on both sides.
void BMP_HLinePX(int32_t x, int32_t y, int32_t count, uint8_t r, uint8_t g, uint8_t b);

// Line: axis-aligned lines leave out their far end; others are Bresenham lines
// with both ends drawn.
void BMP_Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g, uint8_t b);

void BMP_Circle(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b);
void BMP_Circlefill(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b);
// Disc with a ragged edge: runs alternately widened and narrowed by one pixel.
void BMP_Circlefill_fuzzy(int32_t cx, int32_t cy, int32_t radius, uint8_t r, uint8_t g, uint8_t b,
                          int32_t widening);

// Rectangles between two opposite corners, corners included.
void BMP_rect(uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2, uint8_t r, uint8_t g, uint8_t b);
void BMP_rect_filled(uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2, uint8_t r, uint8_t g,
                     uint8_t b);
void BMP_RectFilledPX(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g,
                      uint8_t b);
// Replaces every pixel of the old colour inside the rectangle by the new one.
void BMP_rectXchange(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t newR, uint8_t newG,
                     uint8_t newB, uint8_t oldR, uint8_t oldG, uint8_t oldB);

// Three lines: vertex 1 to 2, 2 to 3, 1 to 3.
void BMP_triangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, uint8_t r,
                  uint8_t g, uint8_t b);
