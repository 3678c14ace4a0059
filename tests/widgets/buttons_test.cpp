// Push buttons: creation limits, the two looks and the press/release poll,
// with the press clock set by the tests.
#include "widgets/buttons.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

// The monotonic clock as the tests set it (ms).
int64_t now = 0;

// A poll with the pointer as given and no new report.
void pollAt(int32_t px, int32_t py, uint8_t button = kPointerClicked) {
  buttonsPoll({px, py, px, py, button}, now);
}

// A pointer report as the parser leaves it (position first, then the flag)
// and the poll it wakes.
void report(int32_t px, int32_t py, uint8_t button = kPointerClicked) {
  pointerEventRaise(buttons.pointerEvent);
  pollAt(px, py, button);
}

// What the screen would answer: marks count up, and the viewers that must see
// a press have been sent the picture up to seenUpTo.
uint32_t markNow = 0;
uint32_t seenUpTo = 0;
uint32_t nextMark() {
  return ++markNow;
}
bool seenMark(uint32_t mark) {
  return mark <= seenUpTo;
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
    now = 5000;
    pressWitness = {nullptr, nullptr};
  }
  void TearDown() override { pressWitness = {nullptr, nullptr}; }
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

TEST_F(Buttons, ClickIsPressedAtOnceAndReleasedWithTheActionOnceShownLongEnough) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 200, 100, 50, 0, 0, 0, actionA), 0);
  report(50, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(pixelColour(12, 12), rgb(100, 50, 25));
  EXPECT_EQ(buttonsNextLook(now), kPressShownMs);

  now += kPressShownMs - 1;
  pollAt(50, 20);  // the same position, no new report
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(actionCalls[0], 0);
  EXPECT_EQ(buttonsNextLook(now), 1u);

  now += 1;
  pollAt(50, 20);
  EXPECT_EQ(buttons.item[0].pressed, 0);
  EXPECT_EQ(pixelColour(10, 12), rgb(25, 12, 6));
  EXPECT_EQ(pixelColour(13, 13), rgb(200, 100, 50));
  EXPECT_EQ(actionCalls[0], 1);
  EXPECT_EQ(buttonsNextLook(now), kNoLookDue);

  now += 1000;
  pollAt(50, 20);
  EXPECT_EQ(actionCalls[0], 1);
}

TEST_F(Buttons, HeldPointerKeepsItPressedUntilItLiftsOrLeavesAndTheMinimumHasPassed) {
  // Each case presses the button with a pointer going down at (50, 20) at
  // time 0, then polls with the pointer as each step gives it.
  struct Step {
    uint8_t button;
    int32_t moveX, moveY;
    uint32_t at;  // ms after the press
    bool pressed;
    int actions;
  };
  struct HoldCase {
    const char* behaviour;
    std::vector<Step> steps;
  };
  const HoldCase cases[] = {
      {"held long, released on the lift",
       {{kPointerHeld, 50, 20, 2000, true, 0}, {kPointerLifted, 50, 20, 2001, false, 1}}},
      {"lifted at once, released when the minimum has passed",
       {{kPointerLifted, 50, 20, 30, true, 0},
        {kPointerLifted, 50, 20, 99, true, 0},
        {kPointerLifted, 50, 20, 100, false, 1}}},
      {"moves on the button keep it down",
       {{kPointerHeld, 85, 28, 500, true, 0}, {kPointerHeld, 11, 11, 900, true, 0}}},
      {"leaving it releases it, once",
       {{kPointerHeld, 300, 300, 150, false, 1}, {kPointerLifted, 300, 300, 400, false, 1}}},
      {"back on it before the minimum holds it again",
       {{kPointerHeld, 90, 20, 50, true, 0},
        {kPointerHeld, 60, 20, 120, true, 0},
        {kPointerLifted, 60, 20, 130, false, 1}}},
      {"a click from elsewhere lets it go", {{kPointerClicked, 400, 400, 200, false, 1}}},
  };
  for (const HoldCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    buttonsINIT();
    ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
    actionCalls[0] = 0;
    const uint32_t pressedAt = now;
    report(50, 20, kPointerHeld);
    EXPECT_EQ(buttons.item[0].pressed, 255);
    EXPECT_EQ(buttonsNextLook(now), kNoLookDue) << "a held button waits for the pointer";
    for (const Step& step : c.steps) {
      now = pressedAt + step.at;
      buttonsPoll({50, 20, step.moveX, step.moveY, step.button}, now);
      EXPECT_EQ(buttons.item[0].pressed != 0, step.pressed) << step.at;
      EXPECT_EQ(actionCalls[0], step.actions) << step.at;
    }
  }
}

TEST_F(Buttons, LetGoPressWaitsForItsViewersButNoLongerThanTheLongestWait) {
  pressWitness = {nextMark, seenMark};
  markNow = seenUpTo = 0;
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  report(50, 20);
  EXPECT_EQ(buttons.item[0].pressMark, 1u) << "the mark is taken after the pressed look";
  now += kPressShownMs;
  pollAt(50, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255) << "not sent to every viewer yet";
  EXPECT_EQ(buttonsNextLook(now), kPressLookMs);
  seenUpTo = 1;
  EXPECT_EQ(buttonsNextLook(now), 0u);
  pollAt(50, 20);
  EXPECT_EQ(actionCalls[0], 1);

  // A viewer that is never sent it holds the press up to the longest wait.
  report(50, 20);
  now += kPressWaitMs - 1;
  pollAt(50, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_EQ(buttonsNextLook(now), 1u);
  now += 1;
  pollAt(50, 20);
  EXPECT_EQ(actionCalls[0], 2);
}

TEST_F(Buttons, ClickOnAPressedButtonPressesItAgainOnceItIsReleased) {
  // Two clicks give two actions, each press shown; a button is never left
  // stuck down by a second click.
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  report(50, 20);
  report(60, 20);
  EXPECT_TRUE(eventWaiting());  // a pressed button does not take the report
  now += kPressShownMs;
  pollAt(60, 20);
  EXPECT_EQ(actionCalls[0], 1);
  pollAt(60, 20);
  EXPECT_EQ(buttons.item[0].pressed, 255);
  EXPECT_FALSE(eventWaiting());
  now += kPressShownMs;
  pollAt(60, 20);
  EXPECT_EQ(actionCalls[0], 2);
  EXPECT_EQ(buttons.item[0].pressed, 0);
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
  now += kPressShownMs;
  report(150, 20);  // releases the first and presses the second in one poll
  EXPECT_EQ(buttons.item[0].pressed, 0);
  EXPECT_EQ(buttons.item[1].pressed, 255);
  EXPECT_EQ(actionCalls[1], 0);
}

TEST_F(Buttons, AnActionEndsThePoll) {
  ASSERT_EQ(buttonCREATE(10, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionA), 0);
  ASSERT_EQ(buttonCREATE(100, 10, 80, 20, "", 1, 1, 1, 0, 0, 0, actionB), 0);
  report(50, 20);
  now += kPressShownMs;
  report(150, 20);  // releases the first; the second waits for the next poll
  EXPECT_EQ(actionCalls[0], 1);
  EXPECT_EQ(buttons.item[1].pressed, 0);
  EXPECT_TRUE(eventWaiting());
  pollAt(150, 20);
  EXPECT_EQ(buttons.item[1].pressed, 255);

  // Two pressed buttons due together: only the first is released by a poll.
  report(50, 20);
  now += kPressShownMs;
  pollAt(300, 300);
  EXPECT_EQ(actionCalls[0], 2);
  EXPECT_EQ(buttons.item[1].pressed, 255);
  EXPECT_EQ(actionCalls[1], 0);
  EXPECT_EQ(buttonsNextLook(now), 0u) << "the second is due at once";
  pollAt(300, 300);
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
