#include "support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "graphics/framebuffer.h"

int loadPicture(const std::vector<uint8_t>& bytes) {
  const std::string path = tempPath("picture.bmp");
  if (!writeBytes(path, bytes)) return -100;
  fflush(stdout);
  return dumpBMPinit(path.c_str());
}

int loadBlankPicture(int32_t width, int32_t height) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  return loadPicture(makeBmp(layout));
}

int runCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, n);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint32_t pixelColour(int32_t x, int32_t y) {
  EXPECT_TRUE(x >= 0 && x < bhfo.width && y >= 0 && y < bhfo.height) << x << "," << y;
  const uint8_t* p = BMP_DUMP + bmpPixelOffset() + uint32_t(y) * bmppar.stride +
                     uint32_t(x) * bmppar.bytesPerPixel;
  return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

std::string makeAccessKey(const std::string& file, bool view) {
  std::string printed;
  if (runCommand(std::string(PANEL_KEY_BIN) + (view ? " --view " : " ") + file, &printed) != 0) {
    return "";
  }
  const size_t at = printed.find("Key: ");
  return at == std::string::npos ? "" : printed.substr(at + 5, printed.find('\n', at) - at - 5);
}
