// The access key's costs on this machine: one key check at the iteration
// count panel-key writes (paid by every login and Bearer upgrade, limited by
// the guessing limit), and one session-cookie check (paid by every upgrade
// and page of a signed-in browser).
#include <benchmark/benchmark.h>

#include "door/access_key.h"
#include "door/session_cookie.h"

namespace {

constexpr char kKey[] = "fHzq7Tw9rLd2qeAySyxOcQ";
constexpr int64_t kNow = 1800000000;

KeyFile keysOf() {
  KeyFile keys;
  keys.control.kind = kAccessControl;
  keys.control.iterations = kKeyIterations;
  hashKey(kKey, int(sizeof kKey) - 1, keys.control.salt, kKeyIterations, keys.control.hash);
  return keys;
}

void KeyCheck(benchmark::State& state) {
  const KeyFile keys = keysOf();
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkKey(keys, kKey, int(sizeof kKey) - 1));
  }
  state.counters["iterations"] = double(kKeyIterations);
}
BENCHMARK(KeyCheck)->Unit(benchmark::kMillisecond);

void SessionCookieCheck(benchmark::State& state) {
  keepSessionSecret("");  // no file: the secret in memory only
  const KeyFile keys = keysOf();
  char token[kTokenLength + 1] = {};
  makeSessionToken(keys, kAccessControl, kNow, token, int(sizeof token));
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkSessionToken(keys, token, kTokenLength, kNow));
  }
}
BENCHMARK(SessionCookieCheck)->Unit(benchmark::kMicrosecond);

}  // namespace
