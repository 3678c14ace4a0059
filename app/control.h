// The command line and the control loop of the process entry.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kScanRun = 1;  // the scan found a port: start the system
constexpr const char* kVersionDate = "15.05.2018";
constexpr const char* kVersionNumber = "01.00.03";

// Scans the arguments, printing help, version or an error as they ask.
// kScanRun to go on; otherwise the value main returns (0, -1 or -2).
int scanArguments(int argc, char** argv);

// Every 300 ms hands mX, mY to the buttons and then the sliders, then runs
// turn (when not null), while work is set and no stop signal has come.
void runControlLoop(void (*turn)());

// Stop signals (SIGINT, SIGTERM) received so far; the first ends the control
// loop, the second the process.
extern std::atomic<int> stopSignals;
// Installs the handler and blocks both signals in the calling thread, so the
// threads it starts from then on never take them.
void catchStopSignals();
// Lets the calling thread take the stop signals.
void takeStopSignals();
