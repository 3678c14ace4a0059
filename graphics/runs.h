// Blocks of equal horizontal runs, the form in which filled rectangles reach
// the runs. Internal to the shape layer; the caller holds BMPmutex.
#pragma once

#include <cstdint>

// rows runs of count pixels from (x, y), (x, y + 1), ..., clipped as BMP_hline
// clips each of them.
void fillRuns(uint32_t x, uint32_t y, uint32_t count, uint32_t rows, uint8_t r, uint8_t g,
              uint8_t b);
