// The monotonic clock as the test client, the tests and the tools read it, and
// the bounded poll-until wait they share.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdint>

inline int64_t nowMillis() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

inline double nowSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Polls the condition every stepMs until it holds; false when it still does
// not after timeoutMs.
template <typename Condition>
bool eventually(Condition condition, int timeoutMs = 2000, int stepMs = 20) {
  const int64_t deadline = nowMillis() + timeoutMs;
  while (!condition()) {
    if (nowMillis() >= deadline) return false;
    usleep(useconds_t(stepMs) * 1000);
  }
  return true;
}
