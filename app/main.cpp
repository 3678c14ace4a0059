// Process entry: the command line, the start-up order, the control loop and
// the stop sequence.
#include <unistd.h>

#include <cstdio>

#include "app/control.h"
#include "app/panel.h"
#include "graphics/draw.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "server/listener.h"

namespace {
constexpr int kServerFailed = -3;
constexpr unsigned kStopPauseSeconds = 1;  // lets every connection end its turn
}  // namespace

int main(int argc, char** argv) {
  // A device's log is usually a file: every line goes out as it is printed.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  const int scan = scanArguments(argc, argv);
  if (scan != kScanRun) return scan;

  catchStopSignals();
  printf("res = %i\n", bmpfilework("work.bmp"));
  setfont(kFont8x8);
  if (startWSserver() < 0) return kServerFailed;
  takeStopSignals();
  panelApp.create();
  runControlLoop(panelApp.turn);

  stopWSserver();
  sleep(kStopPauseSeconds);
  return 0;
}
