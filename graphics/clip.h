// The clip rectangle and the tests every primitive draws through. Only the
// far bounds x2_clip and y2_clip cut; a negative coordinate is always
// outside, and x1_clip and y1_clip are kept for whoever saves and restores
// the clip. Guarded by BMPmutex, like the rest of the frame buffer
// (graphics/framebuffer.h): the caller holds it.
#pragma once

#include <cstdint>

// The clip rectangle, guarded by BMPmutex.
extern int32_t x1_clip, y1_clip, x2_clip, y2_clip;

// Sets the clip; the far bounds are cut to the picture and the near ones to 0.
void BMP_GSetClip(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Inside when 0 <= x < x2_clip and 0 <= y < y2_clip: compared unsigned, so
// negative coordinates are outside.
inline bool clipContains(int64_t x, int64_t y) {
  return uint64_t(x) < uint64_t(int64_t(x2_clip)) && uint64_t(y) < uint64_t(int64_t(y2_clip));
}

// Pixels of a run of count from start that lie before the bound limit
// (x2_clip or y2_clip); 0 when it starts at or beyond the bound.
inline uint32_t clipRunLength(uint32_t start, uint32_t count, int32_t limit) {
  const uint32_t bound = uint32_t(limit);
  if (start >= bound) return 0;
  return count < bound - start ? count : bound - start;
}

// A signed rectangle cut to columns 0 .. x2_clip - 1 and rows 0 .. y2_clip - 1,
// corners included.
struct ClippedRect {
  int32_t x1, y1, x2, y2;
};

// Orders the corners and cuts the rectangle to the clip; false when nothing
// of it is left.
inline bool clipRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, ClippedRect* out) {
  const int32_t left = x1 < x2 ? x1 : x2;
  const int32_t right = x1 < x2 ? x2 : x1;
  const int32_t top = y1 < y2 ? y1 : y2;
  const int32_t bottom = y1 < y2 ? y2 : y1;
  if (left >= x2_clip || top >= y2_clip || right < 0 || bottom < 0) return false;
  out->x1 = left < 0 ? 0 : left;
  out->y1 = top < 0 ? 0 : top;
  out->x2 = right < x2_clip ? right : x2_clip - 1;
  out->y2 = bottom < y2_clip ? bottom : y2_clip - 1;
  return out->x1 <= out->x2 && out->y1 <= out->y2;
}

// The steps first .. last of a walk start, start + step, ..., start + step *
// steps (step 1 or -1) that stay within 0 .. bound - 1; false when none does.
inline bool clipSteps(int64_t start, int64_t step, int64_t steps, int64_t bound, int64_t* first,
                      int64_t* last) {
  int64_t from = step > 0 ? -start : start - (bound - 1);
  int64_t to = step > 0 ? bound - 1 - start : start;
  if (from < 0) from = 0;
  if (to > steps) to = steps;
  *first = from;
  *last = to;
  return from <= to;
}
