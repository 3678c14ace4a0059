// The bounded log: every line about a refused or closed connection goes
// through here, so a flood of connections cannot fill the device's storage.
//   1. Refusals and closed connections each draw from a bucket of lines:
//      kLogRefusedBurst at once and kLogRefusedPerSecond after, and
//      kLogClosedBurst and kLogClosedPerSecond. While lines stay within
//      them, which is all an owner's browsers ever print, everything is
//      printed as it comes.
//   2. The first line of each kind in a period of kLogPeriodMs is printed
//      whatever the buckets hold, so a new kind of refusal is never hidden
//      behind a flood of another.
//   3. The lines not printed are counted, and once the period is over one
//      line says how many: "… 12,345 more refused in the last 10 s."
// A line is cut at kLogLineLongest bytes, so however many connections come
// the log grows by at most about 100 KB a minute (some 35 KB with the lines
// the server prints; docs/security.md).
#pragma once

#include <cstdint>

// Kinds of line. The closed kind draws from its own bucket; every other
// kind is a refusal.
constexpr int kLogClosed = 0;          // a connection ended
constexpr int kLogNoKey = 1;           // an upgrade without a key or cookie
constexpr int kLogWrongKey = 2;        // an upgrade with a wrong Bearer key
constexpr int kLogUpgradeGuesses = 3;  // an upgrade over the guessing limit
constexpr int kLogLoginWrongKey = 4;   // a login with a wrong key
constexpr int kLogLoginGuesses = 5;    // a login over the guessing limit
constexpr int kLogNoSession = 6;       // a right key, but no session could be made
// A request the origin policy refused: this plus the reason's number (1 to
// 9, door/origin_policy.h).
constexpr int kLogOriginRefused = 7;
constexpr int kLogKinds = 32;  // room for more kinds

constexpr int kLogRefusedBurst = 10;
constexpr int kLogRefusedPerSecond = 2;
constexpr int kLogClosedBurst = 60;  // six browsers loading the page's files at once
constexpr int kLogClosedPerSecond = 4;
constexpr int64_t kLogPeriodMs = 10000;
constexpr int kLogLineLongest = 160;

// What the limit remembers: the time each bucket is full again, the lines
// held back and the kinds seen in the current period.
struct LogLimit {
  int64_t periodStart = -1;  // monotonic milliseconds; -1 before the first line
  int64_t fullAt[2] = {};    // refusals, closed connections
  int64_t held[2] = {};
  bool seen[kLogKinds] = {};
};

// Whether a line of `kind` at `nowMs` is printed. When a period with lines
// held back has ended, its count is written to `summary` first (its length
// in *summaryLength, else 0), to be printed before the line.
bool admitLogLine(LogLimit* limit, int kind, int64_t nowMs, char* summary, int size,
                  int* summaryLength);
// The count of a period that has ended, without a line: its length, or 0.
int dueLogSummary(LogLimit* limit, int64_t nowMs, char* summary, int size);

// Prints the line (a printf format) on stdout when the server's one limit,
// guarded by a lock of its own, admits it.
void logLine(int kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Prints a count that is due; called on the listener's wake-ups, so a count
// comes within a period's end even when the flood has stopped. True while
// lines are held back (a count is still to come): the listener then wakes
// on a timer, and sleeps without one otherwise.
bool logTick();
// Forgets every count and bucket (tests).
void resetLog();
