// The demonstration panel seen from a WebSocket client of the real server:
// the first picture, and what each button and slider does to the picture.
#include "app/panel.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"
#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kWaitMs = 20000;  // generous: a click needs two polls and a connection turn

constexpr uint32_t kGrey = 0x646464;  // the start colour (100, 100, 100)
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xffffff;

// One screen message: the whole BMP file image.
class Picture {
 public:
  explicit Picture(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  // kNoPixel where the picture has no such pixel: it matches no colour.
  uint32_t at(int32_t x, int32_t y) const { return bmpPixel(bytes_, x, y); }

 private:
  std::vector<uint8_t> bytes_;
};

uint32_t shade(uint32_t colour, int shift) {
  const uint32_t r = ((colour >> 16) & 0xff) >> shift;
  const uint32_t g = ((colour >> 8) & 0xff) >> shift;
  const uint32_t b = (colour & 0xff) >> shift;
  return (r << 16) | (g << 8) | b;
}

struct ButtonPlace {
  int32_t x;
  uint32_t face;
};
// The panel's button row at y = 10, 80 x 20 each.
constexpr ButtonPlace kButtons[] = {{10, 0xff7f7f},  {100, 0x7fff7f}, {190, 0x7f7fff},
                                    {280, 0xc0c0c0}, {370, 0xc00000}, {460, 0xffffff}};
constexpr int32_t kButtonY = 10;

struct SliderPlace {
  int32_t x;
  uint32_t track;
};
constexpr SliderPlace kSliders[] = {{10, 0xff0000}, {35, 0x00ff00}, {60, 0x0000ff}};

// The middle of a button (inside its face, clear of the label).
int32_t buttonMiddleX(int index) {
  return kButtons[index].x + 40;
}
constexpr int32_t kButtonMiddleY = 20;

class Panel : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = freePort();
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(server_.start(::testing::UnitTest::GetInstance()->current_test_info()->name(),
                              makeBmp(BmpLayout{}, calmBackground), {"-p", std::to_string(port_)}));
    ASSERT_TRUE(client_.openStreaming(port_));
    // The panel is drawn a second after the listener starts: wait for it.
    ASSERT_TRUE(waitFor([](const Picture& p) { return slidersShown(p, 100); })) << server_.output();
  }

  // Reads screen messages (answering pings) until one satisfies `ready`;
  // keeps it in last_. False when none did within kWaitMs.
  bool waitFor(const std::function<bool(const Picture&)>& ready) {
    const int64_t deadline = monotonicMs() + kWaitMs;
    for (int64_t left = kWaitMs; left > 0; left = deadline - monotonicMs()) {
      WsFrame frame;
      if (!client_.readFrame(&frame, int(left))) return false;
      if (frame.opcode == kOpPing) {
        client_.sendFrame(kOpPong, std::string(frame.payload.begin(), frame.payload.end()));
        continue;
      }
      if (frame.opcode != kOpBinary) continue;
      last_ = Picture(std::move(frame.payload));
      if (ready(last_)) return true;
    }
    return false;
  }

  // One press: a single report, as the browser page sends it.
  void press(int32_t x, int32_t y) {
    ASSERT_TRUE(client_.sendFrame(
        kOpText, "mouse_X: " + std::to_string(x) + "\r\nmouse_Y: " + std::to_string(y) + "\r\n"));
  }
  void pressButton(int index) { press(buttonMiddleX(index), kButtonMiddleY); }

  // Every slider drawn, slider 1 showing the given value's knob rows.
  static bool slidersShown(const Picture& p, int red) {
    const int32_t knob = red == 100 ? 140 : 150;  // knob rows 138..142 or 148..152
    for (const SliderPlace& s : kSliders) {
      if (p.at(s.x + 7, 180) != s.track) return false;  // inside the area "clear" blacks
    }
    return p.at(12, knob) == kWhite;
  }

  uint16_t port_ = 0;
  ServerProcess server_;
  WsClient client_;
  Picture last_{{}};
};

// One server for the start and every control, in an order where each step's
// shape is drawn in the start colour (slider 1 comes last): pixels outside
// each shape must be as the picture before the press had them.
TEST_F(Panel, DrawsSixButtonsAndThreeSlidersAndEachActsInTurn) {
  {
    SCOPED_TRACE("the start: the counts printed, the controls drawn");
    const std::string output = server_.output();
    EXPECT_EQ(countOf(output, "cnt buttons = 6\n"), 1) << output;
    EXPECT_EQ(countOf(output, "cnt sliders = 3\n"), 1) << output;

    const Picture& p = last_;
    for (const ButtonPlace& b : kButtons) {
      const int32_t x = b.x + 40;
      SCOPED_TRACE(b.x);
      // Three outlines from the outside in, each brighter, then the face.
      EXPECT_EQ(p.at(x, kButtonY), shade(b.face, 3));
      EXPECT_EQ(p.at(x, kButtonY + 1), shade(b.face, 2));
      EXPECT_EQ(p.at(x, kButtonY + 2), shade(b.face, 1));
      EXPECT_EQ(p.at(x, kButtonY + 3), b.face);
      EXPECT_EQ(p.at(b.x, 20), shade(b.face, 3));
      EXPECT_EQ(p.at(b.x + 79, 20), shade(b.face, 2));  // the right edge stays off
      EXPECT_EQ(p.at(b.x + 80, 20), calmBackground(b.x + 80, 20));
      EXPECT_EQ(p.at(x, kButtonY + 20), calmBackground(x, kButtonY + 20));
    }
    // The label "circle" is centred: its text starts at x = 26, rows 17 to 24.
    int labelPixels = 0;
    for (int32_t y = 17; y <= 24; y++) {
      for (int32_t x = 26; x < 26 + 6 * 8; x++) labelPixels += p.at(x, y) == kBlack;
    }
    EXPECT_GT(labelPixels, 20);

    for (const SliderPlace& s : kSliders) {
      SCOPED_TRACE(s.x);
      EXPECT_EQ(p.at(s.x + 2, 120), kBlack);             // margin
      EXPECT_EQ(p.at(s.x + 5, 120), shade(kWhite, 1));   // outer outline
      EXPECT_EQ(p.at(s.x + 6, 120), kWhite);             // inner outline
      EXPECT_EQ(p.at(s.x + 7, 120), s.track);            // track
      EXPECT_EQ(p.at(s.x + 9, 120), shade(s.track, 2));  // groove
      EXPECT_EQ(p.at(s.x + 15, 100), shade(kWhite, 1));  // outline's bottom row
      // Value 100: the knob covers rows 138 to 142 across the whole width.
      EXPECT_EQ(p.at(s.x, 137), kBlack);
      EXPECT_EQ(p.at(s.x, 138), kWhite);
      EXPECT_EQ(p.at(s.x + 19, 142), kWhite);
      EXPECT_EQ(p.at(s.x, 143), kBlack);
      EXPECT_EQ(p.at(s.x + 20, 140), calmBackground(s.x + 20, 140));  // the knob stops at x + w
    }
  }
  Picture before = last_;
  {
    SCOPED_TRACE("circle");
    pressButton(0);
    ASSERT_TRUE(waitFor([](const Picture& p) { return p.at(320, 290) == kGrey; }));
    const Picture& p = last_;
    EXPECT_EQ(p.at(320, 190), kGrey);
    EXPECT_EQ(p.at(370, 240), kGrey);
    EXPECT_EQ(p.at(270, 240), kGrey);
    EXPECT_EQ(p.at(320, 240), before.at(320, 240));
    EXPECT_EQ(p.at(320, 291), before.at(320, 291));
    // The button is raised again by the time its action has run.
    EXPECT_EQ(p.at(50, kButtonY + 3), kButtons[0].face);
  }
  before = last_;
  {
    SCOPED_TRACE("triangle");
    pressButton(4);
    ASSERT_TRUE(waitFor([](const Picture& p) { return p.at(320, 470) == kGrey; }));
    EXPECT_EQ(last_.at(10, 470), kGrey);
    EXPECT_EQ(last_.at(629, 470), kGrey);
    EXPECT_EQ(last_.at(320, 140), kGrey);  // the apex
    EXPECT_EQ(last_.at(320, 471), before.at(320, 471));
    EXPECT_EQ(last_.at(320, 300), before.at(320, 300));
  }
  before = last_;
  {
    SCOPED_TRACE("rect, shown pressed until the next poll");
    // One report: the next poll presses the button, the one after raises it.
    pressButton(2);
    ASSERT_TRUE(waitFor([](const Picture& p) {
      return p.at(230, 13) == shade(kButtons[2].face, 1) || p.at(325, 400) == kGrey;
    }));
    if (last_.at(325, 400) != kGrey) {
      EXPECT_EQ(last_.at(190, 10), shade(kButtons[2].face, 1));  // the whole button half bright
      ASSERT_TRUE(waitFor([](const Picture& p) { return p.at(325, 400) == kGrey; }));
    }
    EXPECT_EQ(last_.at(230, 13), kButtons[2].face);
    for (auto [x, y] : {std::pair{200, 240},
                        {450, 240},
                        {200, 400},
                        {450, 400},
                        {200, 320},
                        {450, 320},
                        {325, 240}}) {
      EXPECT_EQ(last_.at(x, y), kGrey) << x << "," << y;
    }
    EXPECT_EQ(last_.at(325, 320), before.at(325, 320));
    EXPECT_EQ(last_.at(451, 320), before.at(451, 320));
  }
  before = last_;
  {
    SCOPED_TRACE("reectf");
    pressButton(3);
    ASSERT_TRUE(waitFor([](const Picture& p) { return p.at(325, 320) == kGrey; }));
    EXPECT_EQ(last_.at(201, 241), kGrey);
    EXPECT_EQ(last_.at(449, 399), kGrey);
    EXPECT_EQ(last_.at(199, 320), before.at(199, 320));
    EXPECT_EQ(last_.at(325, 401), before.at(325, 401));
  }
  before = last_;
  {
    SCOPED_TRACE("clear, and the sliders come back");
    pressButton(5);
    ASSERT_TRUE(waitFor([](const Picture& p) { return p.at(325, 320) == kBlack; }));
    for (auto [x, y] : {std::pair{100, 140}, {630, 140}, {10, 470}, {630, 470}, {320, 300}}) {
      EXPECT_EQ(last_.at(x, y), kBlack) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{9, 300}, {631, 300}, {320, 139}, {320, 471}}) {
      EXPECT_EQ(last_.at(x, y), before.at(x, y)) << x << "," << y;
    }
    // The slider poll of the same turn draws the sliders over the black
    // again; a picture sent between the two polls may still show them cut.
    if (!slidersShown(last_, 100)) {
      ASSERT_TRUE(waitFor([](const Picture& p) { return slidersShown(p, 100); }));
    }
    EXPECT_EQ(last_.at(15, 190), shade(kWhite, 1));
    EXPECT_EQ(last_.at(10, 140), kWhite);
  }
  before = last_;
  {
    SCOPED_TRACE("slider 1 sets red, and the disc takes the colour");
    press(20, 150);  // slider 1, 50 pixels up its 100: red 127
    ASSERT_TRUE(waitFor([](const Picture& p) { return slidersShown(p, 127); }));
    EXPECT_EQ(last_.at(12, 147), kBlack);
    EXPECT_EQ(last_.at(12, 148), kWhite);
    EXPECT_EQ(last_.at(12, 152), kWhite);
    EXPECT_EQ(last_.at(12, 153), kBlack);
    EXPECT_EQ(last_.at(37, 140), kWhite);  // green and blue stay at 100
    EXPECT_EQ(last_.at(62, 140), kWhite);

    pressButton(1);
    const uint32_t colour = 0x7f6464;
    ASSERT_TRUE(waitFor([&](const Picture& p) { return p.at(320, 240) == colour; }));
    EXPECT_EQ(last_.at(270, 240), colour);  // a run covers cx - 50 to cx + 49
    EXPECT_EQ(last_.at(369, 240), colour);
    EXPECT_EQ(last_.at(370, 240), before.at(370, 240));
    EXPECT_EQ(last_.at(320, 289), colour);
    EXPECT_EQ(last_.at(300, 220), colour);
  }
}

}  // namespace
