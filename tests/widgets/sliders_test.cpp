// Sliders: the knob and frame pixels, the values a pointer writes and the
// single-precision arithmetic between them.
#include "widgets/sliders.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "graphics/framebuffer.h"
#include "support/test_support.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
  return (r << 16) | (g << 8) | b;
}
constexpr uint32_t kWhite = rgb(255, 255, 255);

std::vector<int> span(int first, int last) {
  std::vector<int> values;
  for (int v = first; v <= last; v++) values.push_back(v);
  return values;
}

std::vector<int> join(std::vector<int> first, const std::vector<int>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Rows from..to of one column (or columns of one row) showing the colour.
std::vector<int> rowsOf(uint32_t colour, int column, int from, int to) {
  std::vector<int> rows;
  for (int y = from; y <= to; y++) {
    if (pixelColour(column, y) == colour) rows.push_back(y);
  }
  return rows;
}
std::vector<int> columnsOf(uint32_t colour, int row, int from, int to) {
  std::vector<int> columns;
  for (int x = from; x <= to; x++) {
    if (pixelColour(x, row) == colour) columns.push_back(x);
  }
  return columns;
}

void report(int32_t px, int32_t py) {
  pointerEventRaise(sliders.pointerEvent);
  sliderCTRL(px, py, 0);
}

bool eventWaiting() {
  return pointerEventRaised(sliders.pointerEvent);
}

// The demonstration's red slider: x 10, y 100, 20 by 100, range 0 to 255,
// white frame and knob, red track. Column 10 is black except for the knob.
class Sliders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    slidersINIT();
  }
  void createDemonstration(int min = 0, int max = 255) {
    ASSERT_EQ(sliderCREATE(10, 100, 20, 100, min, max, &value, 255, 255, 255, 255, 0, 0), 0);
  }
  std::vector<int> knobRows() { return rowsOf(kWhite, 10, 100, 199); }

  int32_t value = 100;
  int32_t other = 100;
};

TEST_F(Sliders, ValueSetElsewhereShowsAtTheNextPollWithTheKnobWhereTheScalePutsIt) {
  createDemonstration();
  EXPECT_EQ(sliders.item[0].vertical, 255);
  EXPECT_EQ(knobRows(), span(138, 142));
  for (auto [shown, first] : {std::pair{0, 103}, {100, 138}, {127, 148}, {255, 194}}) {
    value = shown;
    sliderCTRL(0, 0, 0);
    EXPECT_EQ(knobRows(), span(first, first + 4)) << shown;
  }
}

TEST_F(Sliders, FrameTrackAndGrooveOfTheDemonstrationSlider) {
  pthread_mutex_lock(&BMPmutex);
  BMP_GSetClip(5, 6, 300, 200);
  pthread_mutex_unlock(&BMPmutex);
  value = 0;  // the knob covers rows 103 to 107
  createDemonstration();
  const uint32_t outer = rgb(127, 127, 127), track = rgb(255, 0, 0), groove = rgb(63, 0, 0);
  // The top edge lies on the clip bound and is not drawn.
  EXPECT_EQ(rowsOf(outer, 15, 100, 200), join(span(100, 102), span(108, 199)));
  EXPECT_EQ(rowsOf(outer, 25, 100, 200), join(span(100, 102), span(108, 199)));
  EXPECT_EQ(columnsOf(outer, 100, 10, 29), span(15, 25));
  EXPECT_EQ(pixelColour(16, 120), kWhite);
  EXPECT_EQ(pixelColour(24, 120), kWhite);
  EXPECT_EQ(columnsOf(groove, 120, 10, 29), span(19, 21));
  EXPECT_EQ(rowsOf(groove, 20, 100, 199), span(108, 197));
  for (auto [x, y] : {std::pair{20, 102}, {20, 198}, {18, 120}, {22, 120}}) {
    EXPECT_EQ(pixelColour(x, y), track) << x << "," << y;
  }
  EXPECT_EQ(pixelColour(14, 120), 0u);
  EXPECT_EQ(x1_clip, 5);
  EXPECT_EQ(y1_clip, 6);
  EXPECT_EQ(x2_clip, 300);
  EXPECT_EQ(y2_clip, 200);
}

TEST_F(Sliders, PointerInsideWritesValuesFromTwoTo252) {
  createDemonstration();
  for (auto [py, written] : {std::pair{101, 2}, {150, 127}, {199, 252}}) {
    report(20, py);
    EXPECT_EQ(value, written) << py;
    EXPECT_FALSE(eventWaiting());
  }
  EXPECT_EQ(knobRows(), span(192, 196));  // drawn with the value just written, 252
}

TEST_F(Sliders, HeldPointerDragsTheSliderItPressedUntilItLifts) {
  createDemonstration();
  ASSERT_EQ(sliderCREATE(35, 100, 20, 100, 0, 255, &other, 255, 255, 255, 0, 255, 0), 0);
  // Each step: the pointer now, and the two values after the poll. The press
  // landed on the first slider at y 150.
  struct Step {
    const char* behaviour;
    int32_t moveX, moveY;
    uint8_t button;
    int32_t first, second;
  };
  const Step steps[] = {
      {"the press sets the value", 20, 150, kPointerHeld, 127, 100},
      {"a move drags it", 20, 101, kPointerHeld, 2, 100},
      {"over the next slider it still drags the first", 45, 180, kPointerHeld, 204, 100},
      {"past the end it stays at the last value a pointer gives", 20, 900, kPointerHeld, 252, 100},
      {"below the start, the first", 20, -900, kPointerHeld, 2, 100},
      {"the lift ends the drag where it was", 20, 150, kPointerLifted, 2, 100},
      {"a later move drags nothing", 20, 160, kPointerHeld, 2, 100},
  };
  pointerEventRaise(sliders.pointerEvent);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.behaviour);
    slidersPoll({20, 150, step.moveX, step.moveY, step.button});
    EXPECT_EQ(value, step.first);
    EXPECT_EQ(other, step.second);
  }
  EXPECT_EQ(knobRows(), span(103, 107));  // drawn with the value it was left at, 2
}

TEST_F(Sliders, ClickOrAPressOutsideStartsNoDrag) {
  createDemonstration();
  report(20, 150);  // a click: no held pointer
  slidersPoll({20, 150, 20, 101, kPointerHeld});
  EXPECT_EQ(value, 127);
  pointerEventRaise(sliders.pointerEvent);
  slidersPoll({300, 300, 300, 300, kPointerHeld});  // held down away from every slider
  slidersPoll({300, 300, 20, 101, kPointerHeld});
  EXPECT_EQ(value, 127);
}

TEST_F(Sliders, PointerOnAnEndWritesNothingButTheSliderIsRedrawn) {
  createDemonstration();
  for (int py : {100, 200}) {
    pthread_mutex_lock(&BMPmutex);
    BMP_SetPixel(12, 150, 0, 255, 0);
    pthread_mutex_unlock(&BMPmutex);
    report(20, py);
    EXPECT_EQ(value, 100) << py;
    EXPECT_TRUE(eventWaiting());
    EXPECT_EQ(pixelColour(12, 150), 0u);
  }
}

TEST_F(Sliders, OnlyTheLowHalfOfAWideBoundVariableIsWritten) {
  value = 0x7fff0005;
  createDemonstration();
  EXPECT_EQ(knobRows(), span(104, 108));  // shows the low half, 5
  report(20, 150);
  EXPECT_EQ(value, 0x7fff0000 + 127);
}

TEST_F(Sliders, OneReportMovesOnlyTheFirstSliderContainingIt) {
  int32_t other = 7;
  createDemonstration();
  ASSERT_EQ(sliderCREATE(15, 100, 20, 100, 0, 255, &other, 255, 255, 255, 0, 0, 255), 0);
  report(20, 150);
  EXPECT_EQ(value, 127);
  EXPECT_EQ(other, 7);
  report(300, 300);
  EXPECT_TRUE(eventWaiting());
}

TEST_F(Sliders, SinglePrecisionGives499Not500) {
  ASSERT_EQ(sliderCREATE(100, 300, 10, 30, 0, 1000, &value, 255, 255, 255, 0, 0, 0), 0);
  report(105, 315);
  EXPECT_EQ(value, 499);
}

TEST_F(Sliders, KnobSizeGrowsWithTheLength) {
  value = 0;
  int32_t x = 100;
  for (auto [length, rows] : {std::pair{19, 3}, {20, 4}, {50, 4}, {51, 5}}) {
    ASSERT_EQ(sliderCREATE(x, 100, 10, length, 0, 255, &value, 255, 255, 255, 0, 0, 0), 0);
    EXPECT_EQ(rowsOf(kWhite, x, 100, 100 + length - 1), span(103, 102 + rows)) << length;
    x += 20;
  }
}

TEST_F(Sliders, SquareSliderIsHorizontalAndFollowsX) {
  ASSERT_EQ(sliderCREATE(300, 300, 40, 40, 0, 255, &value, 255, 255, 255, 0, 0, 200), 0);
  EXPECT_EQ(sliders.item[0].vertical, 0);
  report(320, 339);
  EXPECT_EQ(value, 127);
  EXPECT_EQ(columnsOf(kWhite, 301, 300, 339), span(318, 321));
  const uint32_t outer = rgb(127, 127, 127), track = rgb(0, 0, 200), groove = rgb(0, 0, 50);
  EXPECT_EQ(rowsOf(outer, 300, 300, 339), span(310, 330));
  // Across the middle row: the frame ends at x + w - 1, a pixel short of the clip bound.
  const std::vector<uint32_t> middleRow = {outer, kWhite, track, groove};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(pixelColour(300 + i, 320), middleRow[i]) << i;
    EXPECT_EQ(pixelColour(339 - i, 320), middleRow[i]) << i;
  }
  EXPECT_EQ(columnsOf(groove, 320, 300, 339), join(span(303, 317), span(322, 336)));
}

TEST_F(Sliders, RangeIsASpanTheMinimumIsNeverAdded) {
  ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 100, 200, &value, 255, 255, 255, 0, 0, 0), 0);
  report(20, 150);
  EXPECT_EQ(value, 50);
}

TEST_F(Sliders, MinimumAboveMaximumBehavesAsTheTwoSwapped) {
  createDemonstration(255, 0);
  EXPECT_EQ(knobRows(), span(138, 142));
  report(20, 150);
  EXPECT_EQ(value, 127);
}

TEST_F(Sliders, EndsFarApartUseTheFullSpanForThePointerAndTheWrappedRangeForTheKnob) {
  createDemonstration(-32768, 32767);
  report(20, 150);
  EXPECT_EQ(value, 32767);
  report(20, 160);  // 39321 cut to 16 bits
  EXPECT_EQ(int16_t(value), -26215);
  value = 0;
  sliderCTRL(0, 0, 0);
  EXPECT_EQ(knobRows(), span(103, 107));
  value = 1;  // |range| is 1: the knob moves length - 9 pixels per unit
  sliderCTRL(0, 0, 0);
  EXPECT_EQ(knobRows(), span(194, 198));
}

TEST_F(Sliders, LengthOfNineHoldsTheKnobAndShorterMovesItBackwards) {
  value = 200;
  ASSERT_EQ(sliderCREATE(200, 100, 4, 9, 0, 255, &value, 255, 255, 255, 0, 0, 0), 0);
  EXPECT_EQ(rowsOf(kWhite, 200, 90, 120), span(103, 105));
  ASSERT_EQ(sliderCREATE(250, 100, 4, 5, 0, 255, &value, 255, 255, 255, 0, 0, 0), 0);
  EXPECT_EQ(rowsOf(kWhite, 250, 90, 120), span(100, 102));
}

TEST_F(Sliders, ThirtyThirdCreationIsRefused) {
  for (int i = 0; i < kMaxSliders; i++) {
    ASSERT_EQ(sliderCREATE(i * 20, 0, 10, 30, 0, 255, &value, 1, 1, 1, 0, 0, 0), 0);
  }
  EXPECT_EQ(sliderCREATE(0, 300, 10, 30, 0, 255, &value, 1, 1, 1, 0, 0, 0), -2);
  EXPECT_EQ(sliders.count, kMaxSliders);
}

TEST_F(Sliders, SliderWithoutABoundVariableShowsZeroAndAHitWritesNothing) {
  ASSERT_EQ(sliderCREATE(10, 100, 20, 100, 0, 255, nullptr, 255, 255, 255, 0, 0, 0), 0);
  report(20, 150);
  EXPECT_FALSE(eventWaiting());
  EXPECT_EQ(knobRows(), span(103, 107));
}

TEST_F(Sliders, SlidersAtTheEndsOfTheCoordinateRangeStayDefined) {
  int32_t other = 0;
  value = 32767;  // with |range| 1 the knob lies far beyond 32 bits of offset
  ASSERT_EQ(sliderCREATE(0, 0, 10, INT32_MAX, -32768, 32767, &value, 255, 255, 255, 0, 0, 0), 0);
  constexpr int32_t kFar = INT32_MAX - 10;
  ASSERT_EQ(sliderCREATE(kFar, kFar, 100, 200, 0, 255, &other, 255, 255, 255, 0, 0, 0), 0);
  report(INT32_MAX, INT32_MAX);  // 10 pixels along 200: 12.75
  EXPECT_EQ(other, 12);
  EXPECT_EQ(value, 32767);
  EXPECT_EQ(rowsOf(kWhite, 0, 0, 479), std::vector<int>{});
}

}  // namespace
