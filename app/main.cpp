// Process entry: the command line, the start-up order and the control loop.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/control.h"
#include "app/panel.h"
#include "graphics/draw.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"

int main(int argc, char** argv) {
  // A device's log is usually a file: every line goes out as it is printed.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  const int scan = scanArguments(argc, argv);
  if (scan != kScanRun) return scan;

  printf("res = %i\n", bmpfilework("work.bmp"));
  setfont(kFont8x8);
  panelCREATE();
  runControlLoop();
  return 0;
}
