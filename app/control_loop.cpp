// The control loop: the only driver of the application. No events or queues,
// only the shared pointer position read on a fixed beat.
#include <unistd.h>

#include "app/control.h"
#include "server/records.h"

namespace {
constexpr useconds_t kControlPeriodMicros = 300000;
}

void runControlLoop() {
  while (work.load() != 0) {
    usleep(kControlPeriodMicros);
  }
}
