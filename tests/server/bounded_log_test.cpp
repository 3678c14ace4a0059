// The bounded log: its decisions under an injected clock, and a real server
// under a short flood of refused connections.
#include "server/bounded_log.h"

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

int64_t countIn(const std::string& summary, const char* word) {
  std::smatch match;
  const std::regex pattern(std::string("([0-9,]+) more ") + word);
  if (!std::regex_search(summary, match, pattern)) return 0;
  std::string digits = match[1];
  digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
  return std::stoll(digits);
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

TEST(BoundedLog, WithoutAFloodEveryLineIsPrinted) {
  struct Case {
    const char* what;
    int kind;
    int count;
    int64_t spanMs;
  };
  const Case cases[] = {
      {"a burst of refusals", kLogNoKey, kLogRefusedBurst, 0},
      {"a refusal every half second for a minute", kLogWrongKey, 120, 60000},
      {"six browsers loading the page's files", kLogClosed, kLogClosedBurst, 0},
      {"connections ending four a second", kLogClosed, 4 * 60, 60000},
  };
  for (const Case& c : cases) {
    LogLimit limit;
    Tally tally;
    lines(&limit, &tally, c.kind, c.count, 1000, c.spanMs);
    tick(&limit, &tally, 1000 + c.spanMs + kLogPeriodMs);
    EXPECT_EQ(tally.printed, c.count) << c.what;
    EXPECT_EQ(tally.summaries, 0) << c.what;
  }
}

TEST(BoundedLog, AFloodPrintsAFewLinesAMinuteAndCountsTheRest) {
  struct Case {
    int kind;
    int count;  // in one minute
  };
  for (const Case c : {Case{kLogNoKey, 100000}, Case{kLogClosed, 660000}, Case{kLogNoKey, 200}}) {
    LogLimit limit;
    Tally tally;
    lines(&limit, &tally, c.kind, c.count, 0, 60000);
    tick(&limit, &tally, 60000 + kLogPeriodMs);
    const bool closed = c.kind == kLogClosed;
    const int burst = closed ? kLogClosedBurst : kLogRefusedBurst;
    const int perSecond = closed ? kLogClosedPerSecond : kLogRefusedPerSecond;
    // The bucket, and the first line of the kind in each period.
    EXPECT_LE(tally.printed, burst + perSecond * 60 + 60000 / kLogPeriodMs) << c.count;
    EXPECT_EQ(tally.printed + tally.counted, c.count) << "every line printed or counted";
    EXPECT_LE(tally.summaries, 60000 / kLogPeriodMs + 1);
  }
}

TEST(BoundedLog, TheFirstOfEachKindIsPrintedInAFloodOfAnother) {
  LogLimit limit;
  Tally tally;
  lines(&limit, &tally, kLogNoKey, 5000, 0, 5000);
  const int flood = tally.printed;
  lines(&limit, &tally, kLogOriginRefused + 5, 1, 5000, 0);
  EXPECT_EQ(tally.printed, flood + 1) << "a new kind";
  lines(&limit, &tally, kLogOriginRefused + 5, 1, 5001, 0);
  EXPECT_EQ(tally.printed, flood + 1) << "its second line waits for the bucket";
  lines(&limit, &tally, kLogOriginRefused + 5, 1, 12000, 0);
  EXPECT_EQ(tally.printed, flood + 2) << "the first of the next period";
}

TEST(BoundedLog, TheCountSaysHowManyAndWhen) {
  LogLimit limit;
  Tally tally;
  lines(&limit, &tally, kLogNoKey, kLogRefusedBurst + 12345, 0, 0);
  tick(&limit, &tally, 9999);
  EXPECT_EQ(tally.summaries, 0) << "not before the period is over";
  tick(&limit, &tally, 10300);
  EXPECT_EQ(tally.lastSummary, "… 12,345 more refused in the last 10 s.\n");
  lines(&limit, &tally, kLogClosed, kLogClosedBurst + 7, 10400, 0);
  lines(&limit, &tally, kLogNoKey, kLogRefusedBurst, 10400, 0);
  lines(&limit, &tally, kLogWrongKey, 3, 10400, 0);
  tick(&limit, &tally, 21000);
  EXPECT_EQ(tally.lastSummary, "… 2 more refused and 7 more closed in the last 11 s.\n")
      << "the first wrong key of the period was printed";
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
  const auto accounted = [&](const std::string& log) {
    const int64_t printed = countOf(log, "Refused a connection from 127.0.0.1: no access key.\n");
    int64_t counted = 0;
    size_t at = 0;
    while ((at = log.find("… ", at)) != std::string::npos) {
      const std::string line = log.substr(at, log.find('\n', at) - at);
      counted += countIn(line, "refused");
      at += line.size();
    }
    return printed + counted;
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
