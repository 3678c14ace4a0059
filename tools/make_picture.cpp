// Writes the default picture: a 640 x 480, 24-bit BMP with a 40-byte info
// header and a calm background.
//   make-picture <file> [width height]
#include <cstdio>
#include <cstdlib>

#include "tools/peer/bmp_writer.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    fprintf(stderr, "usage: make-picture <file> [width height]\n");
    return 2;
  }
  BmpLayout layout;
  if (argc == 4) {
    layout.width = atoi(argv[2]);
    layout.height = atoi(argv[3]);
  }
  if (!writeBytes(argv[1], makeBmp(layout, calmBackground))) {
    fprintf(stderr, "make-picture: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
