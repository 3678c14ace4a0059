// The clip rectangle's state and the one call that sets it.
#include "graphics/clip.h"

#include "graphics/framebuffer.h"

int32_t x1_clip, y1_clip, x2_clip, y2_clip;

void BMP_GSetClip(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  x1_clip = x1;
  y1_clip = y1;
  x2_clip = x2;
  y2_clip = y2;
  if (uint32_t(x2_clip) > uint32_t(bhfo.width)) x2_clip = bhfo.width;
  if (uint32_t(y2_clip) > uint32_t(bhfo.height)) y2_clip = bhfo.height;
  if (x1_clip < 0) x1_clip = 0;
  if (y1_clip < 0) y1_clip = 0;
}
