// The graceful stop: SIGINT or SIGTERM ends the control loop, so main runs the
// stop sequence and every connection ends at the end of its turn. A second
// signal ends the process at once.
//
// Only the main thread takes the signals: the threads it starts inherit them
// blocked, so no socket wait of a connection is cut short by one.
#include "app/stop_signals.h"

#include <signal.h>
#include <unistd.h>

std::atomic<int> stopSignals{0};

namespace {

void onStopSignal(int signal) {
  if (stopSignals.fetch_add(1) > 0) _exit(128 + signal);
}

sigset_t stopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void catchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const sigset_t set = stopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void takeStopSignals() {
  const sigset_t set = stopSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
