// Writes a picture for the server: by default the calm background of the
// default picture, with --photo the photograph-like picture (a gradient with
// sensor noise, the same bytes on every machine), both 24-bit BMPs with a
// 40-byte info header, 640 x 480 unless a size is given.
//   make-picture [--photo] <file> [width height]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/peer/bmp_writer.h"
#include "tools/peer/tool_usage.h"

namespace {

constexpr long kLargestSide = 4096;  // far beyond what the server loads
constexpr const char* kUsage =
    "usage: make-picture [--photo] <file> [width height]\n"
    "Writes a 24-bit BMP picture for the server: a calm background, or with\n"
    "--photo a photograph-like one; 640 x 480 unless width and height (1 to 4096)\n"
    "are given.\n";

// A side in 1 .. kLargestSide written as decimal digits only; 0 otherwise.
int32_t readSide(const char* text) {
  char* end = nullptr;
  const long value = strtol(text, &end, 10);
  if (text[0] < '0' || text[0] > '9' || *end != '\0' || value < 1 || value > kLargestSide) {
    return 0;
  }
  return int32_t(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (answeredHelp(argc, argv, kUsage)) return 0;
  const bool photo = argc > 1 && strcmp(argv[1], "--photo") == 0;
  char** args = argv + (photo ? 2 : 1);
  const int count = argc - (photo ? 2 : 1);
  BmpLayout layout;
  if (count == 3) {
    layout.width = readSide(args[1]);
    layout.height = readSide(args[2]);
  }
  if ((count != 1 && count != 3) || isOption(args[0]) || layout.width == 0 || layout.height == 0) {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::vector<uint8_t> bytes =
      photo ? makePhotoPicture(layout.width, layout.height) : makeBmp(layout, calmBackground);
  if (!writeBytes(args[0], bytes)) {
    fprintf(stderr, "make-picture: cannot write %s\n", args[0]);
    return 1;
  }
  return 0;
}
