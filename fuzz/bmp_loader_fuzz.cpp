// Fuzzes the picture loader with arbitrary file bytes: whatever the file
// holds, the loader stays inside its buffers, and a picture it accepts has a
// geometry whose every drawable pixel lies inside the frame buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graphics/framebuffer.h"

namespace {

const std::string& scratchFile() {
  static const std::string path = "/tmp/bmp-loader-fuzz-" + std::to_string(getpid()) + ".bmp";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(scratchFile().c_str(), "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);

  const int result = dumpBMPinit(scratchFile().c_str());
  remove(scratchFile().c_str());  // the loader keeps its own copy: no file outlives the run
  if (result != kLoadOk) {
    if (bmpFileSize() != 0 || bmppar.stride != 0) abort();  // a refusal keeps nothing
    return 0;
  }
  if (bmpFileSize() > kFrameBufferSize) abort();
  // Draw at the far corner and just outside it: within bounds or rejected.
  const int64_t right = x2_clip, top = y2_clip;
  BMP_SetPixel(right - 1, top - 1, 1, 2, 3);
  BMP_SetPixel(right, top - 1, 1, 2, 3);
  BMP_SetPixel(0, top, 1, 2, 3);
  uint8_t r, g, b;
  BMP_GetPixel(right - 1, 0, &r, &g, &b);
  BMP_XchangePixel(0, top - 1, 4, 5, 6, 1, 2, 3);
  return 0;
}
