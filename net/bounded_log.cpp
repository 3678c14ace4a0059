// The limit's decisions, made without I/O on a LogLimit so a test can drive
// them with its own clock, and the server's one limit under logLock, which
// is held while a line is printed so a count never lands inside a line.
// Each bucket is kept as the time it will be full again, as the guessing
// limit keeps its own.
#include "net/bounded_log.h"

#include <pthread.h>

#include <cstdarg>
#include <cstdio>

#include "base/clock.h"

namespace {

constexpr int kRefused = 0;
constexpr int kClosed = 1;
constexpr int kBurst[2] = {kLogRefusedBurst, kLogClosedBurst};
constexpr int64_t kRefillMs[2] = {1000 / kLogRefusedPerSecond, 1000 / kLogClosedPerSecond};

pthread_mutex_t logLock = PTHREAD_MUTEX_INITIALIZER;
LogLimit serverLog;  // guarded by logLock

// The count with a comma between each three digits: "12,345".
void grouped(int64_t count, char* out, int size) {
  char digits[24];
  const int length = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(count));
  int written = 0;
  for (int i = 0; i < length && written + 2 < size; ++i) {
    if (i > 0 && (length - i) % 3 == 0) out[written++] = ',';
    out[written++] = digits[i];
  }
  out[written] = '\0';
}

// Ends the period at nowMs when it is over: the count of the lines held
// back in it (its length, 0 when none were), and a new period begins.
int endPeriod(LogLimit* limit, int64_t nowMs, char* summary, int size) {
  if (limit->periodStart < 0) limit->periodStart = nowMs;
  const int64_t elapsed = nowMs - limit->periodStart;
  if (elapsed < kLogPeriodMs) return 0;
  int length = 0;
  if (limit->held[kRefused] + limit->held[kClosed] > 0) {
    char refused[32];
    char closed[32];
    grouped(limit->held[kRefused], refused, int(sizeof refused));
    grouped(limit->held[kClosed], closed, int(sizeof closed));
    const long long seconds = static_cast<long long>((elapsed + 500) / 1000);
    if (limit->held[kClosed] == 0) {
      length = snprintf(summary, size_t(size), "… %s more refused in the last %lld s.\n", refused,
                        seconds);
    } else if (limit->held[kRefused] == 0) {
      length = snprintf(summary, size_t(size), "… %s more closed in the last %lld s.\n", closed,
                        seconds);
    } else {
      length = snprintf(summary, size_t(size),
                        "… %s more refused and %s more closed in the last %lld s.\n", refused,
                        closed, seconds);
    }
    if (length >= size) length = size - 1;
  }
  limit->periodStart = nowMs;
  limit->held[kRefused] = 0;
  limit->held[kClosed] = 0;
  for (bool& seen : limit->seen) seen = false;
  return length > 0 ? length : 0;
}

}  // namespace

bool admitLogLine(LogLimit* limit, int kind, int64_t nowMs, char* summary, int size,
                  int* summaryLength) {
  *summaryLength = endPeriod(limit, nowMs, summary, size);
  const int group = kind == kLogClosed ? kClosed : kRefused;
  int64_t& fullAt = limit->fullAt[group];
  const bool inBucket = fullAt - (kBurst[group] - 1) * kRefillMs[group] <= nowMs;
  const bool first = kind >= 0 && kind < kLogKinds && !limit->seen[kind];
  if (first) limit->seen[kind] = true;
  if (inBucket) {
    fullAt = (fullAt > nowMs ? fullAt : nowMs) + kRefillMs[group];
  } else if (!first) {
    limit->held[group]++;
    return false;
  }
  return true;
}

int dueLogSummary(LogLimit* limit, int64_t nowMs, char* summary, int size) {
  return endPeriod(limit, nowMs, summary, size);
}

// A printf format, checked by the compiler (the format attribute).
void logLine(int kind, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  char summary[kLogLineLongest];
  int summaryLength = 0;
  pthread_mutex_lock(&logLock);
  const bool printed =
      admitLogLine(&serverLog, kind, monotonicMs(), summary, int(sizeof summary), &summaryLength);
  if (summaryLength > 0) fwrite(summary, 1, size_t(summaryLength), stdout);
  if (printed) {
    char line[kLogLineLongest];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length >= int(sizeof line)) {
      line[sizeof line - 2] = '\n';  // a cut line still ends its line
      length = int(sizeof line) - 1;
    }
    if (length > 0) fwrite(line, 1, size_t(length), stdout);
  }
  pthread_mutex_unlock(&logLock);
}

bool logTick() {
  char summary[kLogLineLongest];
  pthread_mutex_lock(&logLock);
  const int length = dueLogSummary(&serverLog, monotonicMs(), summary, int(sizeof summary));
  if (length > 0) fwrite(summary, 1, size_t(length), stdout);
  const bool holding = serverLog.held[0] != 0 || serverLog.held[1] != 0;
  pthread_mutex_unlock(&logLock);
  return holding;
}

void resetLog() {
  pthread_mutex_lock(&logLock);
  serverLog = LogLimit{};
  pthread_mutex_unlock(&logLock);
}
