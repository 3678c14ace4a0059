// Timing an operation against its floor: the plain memory operation that does
// the same bytes' worth of work. The two run in alternating order within each
// iteration, each timed on this thread's processor clock, and the result is
// the median of the per-iteration ratios: on a shared machine a turn that
// another process interrupts spoils one pair, not the whole figure.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <vector>

inline double threadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

inline double medianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Reports "ratio" (operation / floor, median of the pairs), "aim" (the ratio
// the operation should stay within), and the medians "us" and "floor_us".
// `prepare` runs untimed before each pair.
template <typename Prepare, typename Operation, typename Floor>
void timeAgainstFloor(benchmark::State& state, double aim, Prepare prepare, Operation operation,
                      Floor floor) {
  std::vector<double> ratios, operationTimes, floorTimes;
  bool operationFirst = true;
  for (auto _ : state) {
    prepare();
    double took = 0, floorTook = 0;
    const auto runOperation = [&] {
      const double start = threadSeconds();
      operation();
      benchmark::ClobberMemory();
      took = threadSeconds() - start;
    };
    const auto runFloor = [&] {
      const double start = threadSeconds();
      floor();
      benchmark::ClobberMemory();
      floorTook = threadSeconds() - start;
    };
    if (operationFirst) {
      runOperation();
      runFloor();
    } else {
      runFloor();
      runOperation();
    }
    operationFirst = !operationFirst;
    if (floorTook > 0) ratios.push_back(took / floorTook);
    operationTimes.push_back(took);
    floorTimes.push_back(floorTook);
  }
  state.counters["ratio"] = medianOf(ratios);
  state.counters["aim"] = aim;
  state.counters["us"] = medianOf(operationTimes) * 1e6;
  state.counters["floor_us"] = medianOf(floorTimes) * 1e6;
}
