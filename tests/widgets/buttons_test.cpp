// Push buttons: creation limits, the two looks and the press/release poll.
#include "widgets/buttons.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <utility>

#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "support/test_support.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
  return (r << 16) | (g << 8) | b;
}

int actionCalls[2];
void actionA() {
  actionCalls[0]++;
}
void actionB() {
  actionCalls[1]++;
}

// A pointer report as the parser leaves it: position first, then the flag.
void report(int32_t px, int32_t py) {
  pointerEventRaise(buttons.pointerEvent);
  buttonCTRL(px, py, 0);
}

bool eventWaiting() {
  return pointerEventRaised(buttons.pointerEvent);
}

// Pixels of the given colour inside a rectangle.
std::set<std::pair<int, int>> pixelsOf(uint32_t colour, int x1, int y1, int x2, int y2) {
  std::set<std::pair<int, int>> found;
  for (int y = y1; y <= y2; y++) {
    for (int x = x1; x <= x2; x++) {
      if (pixelColour(x, y) == colour) found.insert({x, y});
    }
  }
  return found;
}

class Buttons : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    buttonsINIT();
    actionCalls[0] = actionCalls[1] = 0;
  }
};

TEST_F(Buttons, LabelOf31IsAcceptedAnd32IsRefusedLeavingTheRecordFree) {
  const std::string longest(31, 'a');
  EXPECT_EQ(buttonCREATE(10, 10, 80, 20, longest.c_str(), 1, 1, 1, 0, 0, 0, nullptr), 0);
  EXPECT_STREQ(buttons.item[0].label, longest.c_str());
  EXPECT_EQ(buttonCREATE(10, 40, 80, 20, std::string(32, 'b').c_str(), 1, 1, 1, 0, 0, 0, nullptr),
            -1);
  EXPECT_EQ(buttons.count, 1);
  EXPECT_EQ(buttons.item[1].used, 0);
  EXPECT_EQ(buttonCREATE(10, 70, 80, 20, "next", 1, 1, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(buttons.count, 2);
  EXPECT_STREQ(buttons.item[1].label, "next");
  EXPECT_EQ(buttons.item[1].y, 70);
}

TEST_F(Buttons, ThirtyThirdCreationIsRefusedBeforeTheLabelIsLookedAt) {
  for (int i = 0; i < kMaxButtons; i++) {
    ASSERT_EQ(buttonCREATE(i * 10, 0, 8, 8, "", 1, 1, 1, 0, 0, 0, nullptr), 0);
  }
  EXPECT_EQ(buttonCREATE(0, 100, 8, 8, "x", 1, 1, 1, 0, 0, 0, nullptr), -2);
  EXPECT_EQ(buttonCREATE(0, 100, 8, 8, std::string(40, 'x').c_str(), 1, 1, 1, 0, 0, 0, nullptr),
            -2);
  EXPECT_EQ(buttons.count, kMaxButtons);
}

TEST_F(Buttons, RaisedLookHasThreeDarkerOutlinesAroundTheFace) {
  ASSERT_EQ(buttonCREATE(100, 100, 60, 30, "", 200, 100, 50, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(pixelColour(100, 110), rgb(25, 12, 6));
  EXPECT_EQ(pixelColour(110, 100), rgb(25, 12, 6));
  EXPECT_EQ(pixelColour(101, 110), rgb(50, 25, 12));
  EXPECT_EQ(pixelColour(159, 110), rgb(50, 25, 12));
  EXPECT_EQ(pixelColour(102, 110), rgb(100, 50, 25));
  EXPECT_EQ(pixelColour(110, 128), rgb(100, 50, 25));
  EXPECT_EQ(pixelColour(103, 103), rgb(200, 100, 50));
  EXPECT_EQ(pixelColour(157, 127), rgb(200, 100, 50));
  // The far edges lie on the clip bound and are not drawn.
  EXPECT_EQ(pixelColour(160, 110), 0u);
  EXPECT_EQ(pixelColour(110, 130), 0u);
}

TEST_F(Buttons, PressedLookIsTheWholeButtonAtHalfBrightness) {
  buttonPUSH(100, 100, 60, 30, "", 200, 100, 50, 0, 0, 0);
  EXPECT_EQ(pixelColour(100, 100), rgb(100, 50, 25));
  EXPECT_EQ(pixelColour(159, 129), rgb(100, 50, 25));
  EXPECT_EQ(pixelColour(160, 110), 0u);
  EXPECT_EQ(pixelColour(99, 110), 0u);
}

TEST_F(Buttons, LabelIsCentredAtTheTextOriginInBothLooks) {
  // "rect" on x 10, w 61, y 400, h 30 starts at (10 + 30 - 16, 400 + 15 - 4).
  const auto glyphsAt = [](int16_t x, int16_t y, uint32_t colour) {
    EXPECT_EQ(loadBlankPicture(), kLoadOk);
    pthread_mutex_lock(&BMPmutex);
    BMP_SetFont(kFont8x8);
    BMP_textout("rect", x, y, colour >> 16, (colour >> 8) & 255, colour & 255, 0, 0, 0, 0);
    pthread_mutex_unlock(&BMPmutex);
    return pixelsOf(colour, 10, 400, 70, 429);
  };
  const auto expected = glyphsAt(24, 411, rgb(200, 100, 50));
  ASSERT_FALSE(expected.empty());

  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  buttonPOP(10, 400, 61, 30, "rect", 1, 2, 3, 200, 100, 50);
  EXPECT_EQ(pixelsOf(rgb(200, 100, 50), 10, 400, 70, 429), expected);
  buttonPUSH(10, 400, 61, 30, "rect", 1, 2, 3, 200, 100, 50);
  std::set<std::pair<int, int>> dimmed = pixelsOf(rgb(100, 50, 25), 10, 400, 70, 429);
  EXPECT_EQ(dimmed, expected);
}

TEST_F(Buttons, DrawingLeavesThe8x8FontSelectedAndTheClipAsItWas) {
  pthread_mutex_lock(&BMPmutex);
  BMP_SetFont(kFont5x7);
  BMP_GSetClip(5, 6, 300, 200);
  pthread_mutex_unlock(&BMPmutex);
  buttonPOP(10, 10, 80, 20, "ok", 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(FontBits, 8);
  EXPECT_EQ(FontByts, 8);
  EXPECT_EQ(x1_clip, 5);
  EXPECT_EQ(y1_clip, 6);
  EXPECT_EQ(x2_clip, 300);
  EXPECT_EQ(y2_clip, 200);

  pthread_mutex_lock(&BMPmutex);
  BMP_SetFont(kFont5x7);
  pthread_mutex_unlock(&BMPmutex);
  buttonPUSH(10, 10, 80, 20, "ok", 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(FontBits, 8);
  EXPECT_EQ(x2_clip, 300);
}

TEST_F(Buttons, PointerOnAnEdgeIsNoHit) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  for (auto [px, py] : {std::pair{10, 20}, {90, 20}, {50, 10}, {50, 30}}) {
    report(px, py);
    EXPECT_EQ(buttons.item[0].pressed, 0) << px << "," << py;
    EXPECT_TRUE(eventWaiting());
  }
  report(89, 29);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_FALSE(eventWaiting());
}

TEST_F(Buttons, ClickPressesOnOnePollAndReleasesWithTheActionOnTheNext) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 200, 100, 50, 0, 0, 0, actionA), 0);
  report(50, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(pixelColour(12, 12), rgb(100, 50, 25));
  EXPECT_EQ(actionCalls[0], 0);

  buttonCTRL(50, 20, 0);  // the same position, no new report
  EXPECT_EQ(buttons.item[0].pressed, 0);
  EXPECT_EQ(pixelColour(10, 12), rgb(25, 12, 6));
  EXPECT_EQ(pixelColour(13, 13), rgb(200, 100, 50));
  EXPECT_EQ(actionCalls[0], 1);

  buttonCTRL(50, 20, 0);
  EXPECT_EQ(actionCalls[0], 1);
}

TEST_F(Buttons, FurtherReportsInsideKeepItPressedUntilOneLandsOutside) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  report(50, 20);
  report(60, 20);
  EXPECT_TRUE(eventWaiting());  // a pressed button does not consume the report
  buttonCTRL(60, 20, 0);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(actionCalls[0], 0);
  report(300, 300);
  EXPECT_EQ(buttons.item[0].pressed, 0);
  EXPECT_EQ(actionCalls[0], 1);
}

TEST_F(Buttons, OverlappingButtonsUnderOneReportPressOnlyTheFirst) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  ASSERT_EQ(buttonCREATE(50, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionB), 0);
  report(60, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(buttons.item[1].pressed, 0);
  EXPECT_FALSE(eventWaiting());
}

TEST_F(Buttons, ButtonWithoutActionIsRaisedAndThePollGoesOn) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(buttonCREATE(100, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionB), 0);
  report(50, 20);
  report(150, 20);  // releases the first and presses the second in one poll
  EXPECT_EQ(buttons.item[0].pressed, 0);
  EXPECT_EQ(buttons.item[1].pressed, 255);
  EXPECT_EQ(actionCalls[1], 0);
}

TEST_F(Buttons, AnActionEndsThePoll) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  ASSERT_EQ(buttonCREATE(100, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionB), 0);
  report(50, 20);
  report(150, 20);  // releases the first; the second waits for the next poll
  EXPECT_EQ(actionCalls[0], 1);
  EXPECT_EQ(buttons.item[1].pressed, 0);
  EXPECT_TRUE(eventWaiting());
  buttonCTRL(150, 20, 0);
  EXPECT_EQ(buttons.item[1].pressed, 255);

  // Two pressed buttons: only the first is released by this poll.
  buttons.item[0].pressed = 255;
  buttonCTRL(300, 300, 0);
  EXPECT_EQ(actionCalls[0], 2);
  EXPECT_EQ(buttons.item[1].pressed, 255);
  EXPECT_EQ(actionCalls[1], 0);
  buttonCTRL(300, 300, 0);
  EXPECT_EQ(actionCalls[1], 1);
}

TEST_F(Buttons, ButtonsAtTheEndsOfTheCoordinateRangeDoNotWrapRound) {
  constexpr int32_t kFar = INT32_MAX - 10;
  ASSERT_EQ(buttonCREATE(kFar, kFar, 100, 100, "far", 1, 1, 1, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(buttonCREATE(INT32_MIN, INT32_MIN, -100, -100, "back", 1, 1, 1, 0, 0, 0, nullptr), 0);
  report(0, 0);  // inside the second one only if its edges wrapped round
  EXPECT_EQ(buttons.item[1].pressed, 0);
  report(INT32_MAX, INT32_MAX);
  EXPECT_EQ(buttons.item[0].pressed, 255);
}

}  // namespace
