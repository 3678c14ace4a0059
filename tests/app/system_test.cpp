// The whole system with five viewers clicking at once: buttons and sliders
// pressed from every connection together (two of the viewers with compression
// both ways), every viewer ends up with the same picture, and the server (the ThreadSanitizer-built
// one in that build) reports no race and no memory fault.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/peer/server_process.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kViewers = 5;
constexpr int kReports = 12;
constexpr int kWaitMs = 10000;

// Points each viewer reports in turn: the six buttons and the three sliders.
constexpr int32_t kPoints[][2] = {
    {50, 20},  {140, 20}, {230, 20}, {320, 20}, {410, 20},
    {500, 20}, {20, 150}, {45, 120}, {70, 180},
};
constexpr int kPointCount = sizeof kPoints / sizeof kPoints[0];

// Waits until no viewer has received a picture for quietMs; false when the
// pictures are still coming after timeoutMs.
bool allAtRest(const std::vector<std::unique_ptr<Viewer>>& viewers, int quietMs, int timeoutMs) {
  constexpr int kStepMs = 50;
  std::vector<int> counts(viewers.size(), -1);
  int still = 0;
  for (int waited = 0; waited < timeoutMs; waited += kStepMs) {
    bool changed = false;
    for (size_t i = 0; i < viewers.size(); ++i) {
      const int count = viewers[i]->pictures();
      changed = changed || count != counts[i];
      counts[i] = count;
    }
    still = changed ? 0 : still + kStepMs;
    if (still >= quietMs) return true;
    usleep(kStepMs * 1000);
  }
  return false;
}

}  // namespace

TEST(System, FiveViewersClickingTogetherAllEndWithTheSamePicture) {
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("five-viewers", port, 640, 480));
  std::vector<std::unique_ptr<Viewer>> viewers;
  for (int i = 0; i < kViewers; ++i) {
    viewers.push_back(std::make_unique<Viewer>());
    ASSERT_TRUE(viewers.back()->open(port, i % 2 != 0 ? kDeflateOffer : nullptr)) << "viewer " << i;
  }
  for (auto& viewer : viewers) ASSERT_TRUE(viewer->waitForPictures(0, kWaitMs));
  const std::vector<uint8_t> first = viewers[0]->latest();

  std::vector<std::thread> clickers;
  for (int i = 0; i < kViewers; ++i) {
    clickers.emplace_back([&, i] {
      for (int k = 0; k < kReports; ++k) {
        const int32_t* point = kPoints[(i + k) % kPointCount];
        viewers[size_t(i)]->report(point[0], point[1]);
        usleep(120000);
      }
    });
  }
  for (std::thread& clicker : clickers) clicker.join();

  ASSERT_TRUE(allAtRest(viewers, 1500, kWaitMs));
  const std::vector<uint8_t> last = viewers[0]->latest();
  EXPECT_NE(last, first) << "no click changed the picture";
  for (int i = 0; i < kViewers; ++i) {
    EXPECT_TRUE(viewers[size_t(i)]->connected()) << "viewer " << i;
    EXPECT_EQ(viewers[size_t(i)]->latest(), last) << "viewer " << i << " was left behind";
  }
  // And a single click after the storm still works for the last viewer.
  EXPECT_TRUE(viewers.back()->click(50, 20, kWaitMs));

  viewers.clear();
  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_GE(server.waitExit(kWaitMs), 0);
  const std::string errors = server.errors();
  EXPECT_FALSE(sanitizerReported(errors)) << errors;
}
