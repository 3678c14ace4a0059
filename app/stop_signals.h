// The graceful stop on SIGINT and SIGTERM.
#pragma once

#include <atomic>

// Stop signals (SIGINT, SIGTERM) received so far; the first ends the control
// loop, the second the process.
extern std::atomic<int> stopSignals;
// Installs the handler and blocks both signals in the calling thread, so the
// threads it starts from then on never take them.
void catchStopSignals();
// Lets the calling thread take the stop signals.
void takeStopSignals();
