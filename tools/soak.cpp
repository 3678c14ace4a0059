// Soak of the running server: a viewer that stays connected and keeps
// clicking, and churning clients that connect, click and go away again (an
// orderly close, a reset, or in the middle of a frame), for a set time.
// Afterwards the server must hold the descriptors and threads it held after
// the warm-up, its resident memory must not have grown beyond a small
// margin, and it must have printed no sanitizer report.
//   panel-soak [seconds]   (default 180)
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/peer/clock.h"
#include "tools/peer/proc_stats.h"
#include "tools/peer/server_process.h"
#include "tools/peer/tool_usage.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kChurners = 4;       // the five slots, less the viewer's
constexpr int kWarmUpSeconds = 5;  // every slot's record touched before the baseline
constexpr long kResidentMarginKib = 2048;
constexpr int kSettleMs = 8000;
constexpr int kClickMs = 8000;
constexpr useconds_t kRestMicros = 1500000;  // every ended connection's thread is gone

struct Tally {
  std::atomic<long> connections{0};
  std::atomic<long> streamed{0};  // reached the streaming state (the others found no slot)
  std::atomic<long> reports{0};
};

// One churning client's life: connect, stream, report, and leave in one of
// three ways chosen by the round.
void churn(uint16_t port, long round, Tally* tally) {
  WsClient client;
  tally->connections++;
  if (!client.openStreaming(port)) return;
  tally->streamed++;
  for (int i = 0; i < 3; ++i) {
    client.sendFrame(0x1, pointerReport(20 + int(round % 3) * 25, 110 + int(round % 80)));
    tally->reports++;
  }
  switch (round % 3) {
    case 0:  // an orderly close frame
      client.sendFrame(0x8, "");
      break;
    case 1: {  // a reset
      const linger abort{1, 0};
      setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      break;
    }
    default: {  // half a frame, then gone
      const std::vector<uint8_t> frame = WsClient::maskedFrame(0x1, pointerReport(1, 2));
      client.sendRaw(std::vector<uint8_t>(frame.begin(), frame.begin() + 5));
      break;
    }
  }
  client.close();
}

// kChurners clients churning side by side until `until`, while the viewer
// clicks now and then. Returns the viewer's clicks that changed nothing.
long churnUntil(double until, uint16_t port, Viewer& viewer, Tally* tally, long* clicks) {
  std::vector<std::thread> churners;
  for (int i = 0; i < kChurners; ++i) {
    churners.emplace_back([=] {
      for (long round = i; nowSeconds() < until; round += kChurners) churn(port, round, tally);
    });
  }
  long failed = 0;
  for (long n = 0; nowSeconds() < until; ++n) {
    ++*clicks;
    if (!viewer.click(n % 2 ? 500 : 50, 20, kClickMs)) failed++;
  }
  for (std::thread& churner : churners) churner.join();
  return failed;
}

void printCounts(const char* when, pid_t pid) {
  const ProcessCounts counts = processCounts(pid);
  printf("soak: %s: %d descriptors, %d threads, %ld KiB resident\n", when, counts.descriptors,
         counts.threads, residentKib(pid));
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: panel-soak [seconds]\n"
      "Runs this build's server against a clicking viewer and churning clients for\n"
      "the given time (180 s), then checks its descriptors, threads and memory.\n";
  if (const int answer = usageAnswer(argc, argv, kUsage); answer >= 0) return answer;
  const double seconds = argc > 1 ? atof(argv[1]) : 180.0;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const uint16_t port = freePort();
  ServerProcess server;
  if (!server.startOnPort("soak", port, 640, 480)) {
    printf("soak: the server did not start\n");
    return 1;
  }
  Viewer viewer;
  if (!viewer.open(port) || !viewer.waitForPictures(0, kClickMs)) {
    printf("soak: the viewer could not connect\n");
    return 1;
  }

  Tally tally;
  long clicks = 0;
  const double start = nowSeconds();
  long failedClicks = churnUntil(start + kWarmUpSeconds, port, viewer, &tally, &clicks);
  // Measured at rest, with only the viewer connected.
  usleep(kRestMicros);
  const ProcessCounts before = processCounts(server.pid());
  const long residentBefore = residentKib(server.pid());
  printCounts("after warm-up", server.pid());
  failedClicks += churnUntil(nowSeconds() + seconds, port, viewer, &tally, &clicks);

  ProcessCounts after{};
  const bool settled = settlesTo(server.pid(), before, kSettleMs, &after);
  const long residentAfter = residentKib(server.pid());
  printCounts("at the end", server.pid());
  const bool viewerFine = viewer.connected() && viewer.click(50, 20, kClickMs);
  viewer.close();
  server.signal(SIGTERM);
  server.waitExit(kSettleMs);
  const std::string errors = server.errors();
  const bool clean = !sanitizerReported(errors);

  printf(
      "soak: %.0f s, %ld connections opened (%ld streamed), %ld pointer reports, %ld viewer "
      "clicks (%ld without a change), %d pictures to the viewer\n",
      nowSeconds() - start, tally.connections.load() + 1, tally.streamed.load() + 1,
      tally.reports.load(), clicks, failedClicks, viewer.pictures());
  const bool flat = settled && residentAfter - residentBefore <= kResidentMarginKib;
  printf("soak: descriptors %d -> %d, threads %d -> %d, resident %ld -> %ld KiB: %s\n",
         before.descriptors, after.descriptors, before.threads, after.threads, residentBefore,
         residentAfter, flat ? "flat" : "NOT FLAT");
  if (!clean) printf("soak: the server reported:\n%s\n", errors.c_str());
  const bool passed = flat && clean && viewerFine && failedClicks == 0;
  printf("soak: %s\n", passed ? "passed" : "FAILED");
  return passed ? 0 : 1;
}
