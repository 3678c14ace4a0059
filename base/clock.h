// The one monotonic clock of the system: every deadline, beat, press time
// and wait reads it. Signed 64-bit milliseconds never wrap in the life of a
// device, so times compare by plain subtraction. The realtime clock is read
// only where a date is meant (a session's issue time).
#pragma once

#include <cstdint>

// Milliseconds of the monotonic clock (from an arbitrary start; only
// differences mean anything).
int64_t monotonicMs();
