// The one monotonic clock of the system: every deadline, beat, press time
// and wait reads it. Signed 64-bit milliseconds never wrap in the life of a
// device, so times compare by plain subtraction. The realtime clock is read
// only where a date is meant (a session's issue time).
#pragma once

#include <cstdint>

// Milliseconds of the monotonic clock, CLOCK_MONOTONIC (from an arbitrary
// start; only differences mean anything). A wait that takes a clock
// (pthread_cond_clockwait) is given CLOCK_MONOTONIC and a time of this one.
int64_t monotonicMs();
