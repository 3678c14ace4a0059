// The control loop: the only driver of the application. No events or queues,
// only the shared pointer position read on a fixed beat.
#include "app/control_loop.h"

#include <unistd.h>

#include "app/pointer.h"
#include "app/stop_signals.h"
#include "server/records.h"
#include "widgets/buttons.h"
#include "widgets/sliders.h"

namespace {
constexpr useconds_t kControlPeriodMicros = 300000;
}

void runControlLoop(void (*turn)()) {
  while (work.load() != 0 && stopSignals.load() == 0) {
    // The position is read afresh for each poll: a report may land between them.
    buttonCTRL(mX.load(), mY.load(), 0);
    sliderCTRL(mX.load(), mY.load(), 0);
    if (turn != nullptr) turn();
    usleep(kControlPeriodMicros);
  }
}
