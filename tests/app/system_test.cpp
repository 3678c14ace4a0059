// The whole system with five viewers clicking at once: buttons and sliders
// pressed from every connection together (two of the viewers with compression
// both ways), every viewer ends up with the same picture, and the server (the ThreadSanitizer-built
// one in that build) reports no race and no memory fault. And a raw client
// beside a page that clicks is sent the pressed look of every click.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/changes.h"
#include "tools/peer/bmp_writer.h"
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

// The page's clicks are acted on at once while the raw client keeps its turns
// (a look every 0.4 s) and its whole pictures; a button stays pressed until
// the raw client has been sent the look. Each click comes 0.2 s after the raw
// client's latest picture, so its next look falls 0.2 s after the press:
// after the shortest press has passed, well before the longest wait.
TEST(System, ARawClientIsSentThePressedLookOfEveryClickOfAPage) {
  constexpr int kClicks = 4;
  constexpr int32_t kFaceX = 15, kFaceY = 14;  // the "circle" button's face, off its label
  constexpr uint32_t kRaised = 0xFF7F7F, kPressed = 0x7F3F3F;
  constexpr size_t kFileBytes = 54 + 640 * 480 * 3;
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("raw-beside-page", port, 640, 480));
  Viewer page;
  ASSERT_TRUE(page.open(port, nullptr, "", kChangesProtocol));
  Viewer raw;
  ASSERT_TRUE(raw.open(port));
  ASSERT_TRUE(raw.waitForPictures(0, kWaitMs));
  const auto face = [](uint32_t colour) {
    return [colour](const std::vector<uint8_t>& p) {
      return p.size() == kFileBytes && bmpPixel(p, kFaceX, kFaceY) == colour;
    };
  };
  int pressesSeen = 0;
  for (int k = 0; k < kClicks; ++k) {
    usleep(200000);
    ASSERT_TRUE(page.report(50, 20));
    pressesSeen += raw.waitUntil(face(kPressed), 1500);
    // The raised look comes with the raw client's next look, and times the next click.
    ASSERT_TRUE(raw.waitUntil(face(kRaised), kWaitMs)) << "click " << k;
  }
  EXPECT_EQ(pressesSeen, kClicks);
  EXPECT_TRUE(page.connected());

  page.close();
  raw.close();
  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_GE(server.waitExit(kWaitMs), 0);
  const std::string errors = server.errors();
  EXPECT_FALSE(sanitizerReported(errors)) << errors;
}
