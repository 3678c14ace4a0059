// The example greenhouse panel seen from a client of its own server: the
// reading moves with no click, "heat on" lights the lamp and warms the air
// past anything the outside could give, "heat off" puts the lamp out, and the
// server stops cleanly (in the sanitizer builds, with no report).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/peer/bmp_writer.h"
#include "tools/peer/server_process.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

using Picture = std::vector<uint8_t>;

constexpr int kWaitMs = 10000;  // generous: the emulated and sanitized servers are slow
constexpr int32_t kLampX = 400, kLampY = 376;
constexpr uint32_t kLampOn = 0xff6000, kLampOff = 0x3c3c3c;
constexpr int32_t kOnX = 90, kOffX = 270, kButtonMiddleY = 376;
constexpr int32_t kBarLeft = 20, kBarRow = 160, kBarWidth = 400;
constexpr uint32_t kBarFilled = 0xffa000;
constexpr int32_t kTextBottom = 191, kTextTop = 198, kTextRight = 180;
constexpr int kWarmestOutside = 160;  // tenths of a degree

// The reading as the bar shows it, in tenths of a degree (0 before it is drawn).
int barTenths(const Picture& p) {
  int filled = 0;
  while (filled < kBarWidth && bmpPixel(p, kBarLeft + filled, kBarRow) == kBarFilled) filled++;
  return filled;
}

// The pixels of the reading's text line.
std::vector<uint32_t> readingText(const Picture& p) {
  std::vector<uint32_t> pixels;
  for (int32_t y = kTextBottom; y <= kTextTop; y++) {
    for (int32_t x = kBarLeft; x < kTextRight; x++) pixels.push_back(bmpPixel(p, x, y));
  }
  return pixels;
}

bool lampIs(const Picture& p, uint32_t colour) {
  return bmpPixel(p, kLampX, kLampY) == colour;
}

TEST(Greenhouse, ReadingMovesByItselfAndTheButtonsSwitchTheHeater) {
  const uint16_t port = freePort();
  ServerProcess server(PANEL_GREENHOUSE_BIN);
  ASSERT_TRUE(server.startOnPort("greenhouse", port, 640, 480));
  Viewer viewer;
  ASSERT_TRUE(viewer.open(port));
  ASSERT_TRUE(viewer.waitUntil(
      [](const Picture& p) { return lampIs(p, kLampOff) && barTenths(p) > 0; }, kWaitMs))
      << server.output();
  const Picture first = viewer.latest();

  // No report is sent: the per-turn function moves the reading by itself.
  Picture moved;
  ASSERT_TRUE(viewer.waitUntil(
      [&](const Picture& p) {
        moved = p;
        return barTenths(p) != barTenths(first);
      },
      kWaitMs));
  EXPECT_NE(readingText(moved), readingText(first));

  ASSERT_TRUE(viewer.report(kOnX, kButtonMiddleY));
  ASSERT_TRUE(viewer.waitUntil([](const Picture& p) { return lampIs(p, kLampOn); }, kWaitMs));
  // Only the heater takes the air above the warmest outside.
  EXPECT_TRUE(
      viewer.waitUntil([](const Picture& p) { return barTenths(p) > kWarmestOutside; }, kWaitMs));

  ASSERT_TRUE(viewer.report(kOffX, kButtonMiddleY));
  EXPECT_TRUE(viewer.waitUntil([](const Picture& p) { return lampIs(p, kLampOff); }, kWaitMs));

  viewer.close();
  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_EQ(server.waitExit(kWaitMs), 0);
  const std::string errors = server.errors();
  EXPECT_FALSE(sanitizerReported(errors)) << errors;
}

}  // namespace
