// The bounded log: its decisions under an injected clock, and a real server
// under a short flood of refused connections.
#include "net/bounded_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "support/test_support.h"
#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

struct Tally {
  int printed = 0;
  int64_t counted = 0;  // held back, as the counts say
  int summaries = 0;
  std::string lastSummary;
};

// The sum of the counts "… <n> more <word>" in the text.
int64_t countIn(const std::string& text, const char* word) {
  const std::regex pattern(std::string("… (?:[0-9,]+ more refused and )?([0-9,]+) more ") + word);
  int64_t sum = 0;
  for (std::sregex_iterator at(text.begin(), text.end(), pattern), end; at != end; ++at) {
    std::string digits = (*at)[1];
    digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
    sum += std::stoll(digits);
  }
  return sum;
}

void take(Tally* tally, const char* summary, int length) {
  if (length <= 0) return;
  tally->summaries++;
  tally->lastSummary.assign(summary, size_t(length));
  tally->counted += countIn(tally->lastSummary, "refused") + countIn(tally->lastSummary, "closed");
}

// `count` lines of `kind`, evenly from `fromMs` over `spanMs`.
void lines(LogLimit* limit, Tally* tally, int kind, int count, int64_t fromMs, int64_t spanMs) {
  char summary[kLogLineLongest];
  for (int i = 0; i < count; ++i) {
    int length = 0;
    if (admitLogLine(limit, kind, fromMs + spanMs * i / count, summary, int(sizeof summary),
                     &length)) {
      tally->printed++;
    }
    take(tally, summary, length);
  }
}

void tick(LogLimit* limit, Tally* tally, int64_t nowMs) {
  char summary[kLogLineLongest];
  take(tally, summary, dueLogSummary(limit, nowMs, summary, int(sizeof summary)));
}

}  // namespace

TEST(BoundedLog, EveryLineIsPrintedOrCountedAndAFloodPrintsFew) {
  const struct {
    const char* what;
    int kind;
    int count;
    int64_t spanMs;
    bool allPrinted;
  } cases[] = {
      {"a burst of refusals", kLogNoKey, kLogRefusedBurst, 0, true},
      {"a refusal every half second", kLogWrongKey, 120, 60000, true},
      {"six browsers loading the page's files", kLogClosed, kLogClosedBurst, 0, true},
      {"connections ending four a second", kLogClosed, 4 * 60, 60000, true},
      {"just over the rate", kLogNoKey, 200, 60000, false},
      {"a flood of refusals", kLogNoKey, 100000, 60000, false},
      {"a flood of connections", kLogClosed, 660000, 60000, false},
  };
  for (const auto& c : cases) {
    LogLimit limit;
    Tally tally;
    lines(&limit, &tally, c.kind, c.count, 0, c.spanMs);
    tick(&limit, &tally, c.spanMs + kLogPeriodMs);
    const bool closed = c.kind == kLogClosed;
    // The bucket, and the first line of the kind in each period.
    const int64_t most = (closed ? kLogClosedBurst : kLogRefusedBurst) +
                         (closed ? kLogClosedPerSecond : kLogRefusedPerSecond) * c.spanMs / 1000 +
                         c.spanMs / kLogPeriodMs;
    EXPECT_LE(tally.printed, most) << c.what;
    EXPECT_EQ(tally.printed + tally.counted, c.count) << c.what << ": printed or counted";
    EXPECT_LE(tally.summaries, c.spanMs / kLogPeriodMs + 1) << c.what;
    EXPECT_TRUE(!c.allPrinted || tally.summaries == 0) << c.what << ": nothing held back";
  }
}

TEST(BoundedLog, TheFirstOfEachKindIsPrintedAndTheRestCounted) {
  LogLimit limit;
  Tally tally;
  const int newKind = kLogOriginRefused + 5;
  lines(&limit, &tally, kLogNoKey, kLogRefusedBurst + 12345, 0, 0);
  lines(&limit, &tally, newKind, 2, 0, 0);
  EXPECT_EQ(tally.printed, kLogRefusedBurst + 1) << "a new kind's first line, not its second";
  tick(&limit, &tally, 9999);
  EXPECT_EQ(tally.summaries, 0) << "not before the period is over";
  tick(&limit, &tally, 10300);
  EXPECT_EQ(tally.lastSummary, "… 12,346 more refused in the last 10 s.\n");
  lines(&limit, &tally, kLogClosed, kLogClosedBurst + 7, 10400, 0);
  lines(&limit, &tally, kLogNoKey, kLogRefusedBurst, 10400, 0);
  lines(&limit, &tally, newKind, 3, 10400, 0);
  tick(&limit, &tally, 21000);
  EXPECT_EQ(tally.lastSummary, "… 2 more refused and 7 more closed in the last 11 s.\n")
      << "the first of the next period was printed";
}

TEST(BoundedLog, ARealServerUnderAFloodWritesABoundedLog) {
  const uint16_t port = freePort();
  const std::string keyFile = tempPath("flood-log-keys");
  ASSERT_FALSE(makeAccessKey(keyFile).empty());
  ServerProcess server;
  server.setEnvironment("PANEL_KEY_FILE", keyFile);
  ASSERT_TRUE(server.startOnPort("flood-log", port, 64, 48));
  constexpr int kRefusals = 1500;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRefusals; ++i) {
    WsClient peer;
    ASSERT_TRUE(peer.connect(port));
    peer.sendRaw(
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n");
    std::string answer;
    peer.readReply(&answer, 5000);
    ASSERT_EQ(answer.rfind("HTTP/1.1 401", 0), 0u) << answer;
  }
  // Every refusal and every close is printed or counted; the count comes
  // once the period is over, whether or not more connections come.
  const auto accounted = [](const std::string& log) {
    return countOf(log, "Refused a connection from 127.0.0.1: no access key.\n") +
           countIn(log, "refused");
  };
  for (int waited = 0; accounted(server.output()) < kRefusals && waited < 60000; waited += 100) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string log = server.output();
  EXPECT_EQ(accounted(log), kRefusals) << log;
  const int refusedLines = countOf(log, "Refused a connection");
  EXPECT_LE(refusedLines, kLogRefusedBurst + (kLogRefusedPerSecond + 1) * (int(seconds) + 1))
      << log;
  EXPECT_LE(countOf(log, "== Close Client ==\n"),
            kLogClosedBurst + (kLogClosedPerSecond + 1) * (int(seconds) + 1));
  unlink(keyFile.c_str());
}
