// The bounded poll-until wait the test client, the tests and the tools share,
// on the system's monotonic clock (base/clock.h), and the finer stopwatch the
// load tool times its figures with.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "base/clock.h"

// Seconds with the clock's full resolution, for figures of a millisecond or
// less (the load tool's latencies); deadlines use monotonicMs.
inline double nowSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Polls the condition every stepMs until it holds; false when it still does
// not after timeoutMs.
template <typename Condition>
bool eventually(Condition condition, int timeoutMs = 2000, int stepMs = 20) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  while (!condition()) {
    if (monotonicMs() >= deadline) return false;
    usleep(useconds_t(stepMs) * 1000);
  }
  return true;
}
