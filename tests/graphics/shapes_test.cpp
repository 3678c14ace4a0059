// Runs, lines, circles, discs, rectangles and triangles, checked pixel by
// pixel on a black picture.
#include "graphics/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "graphics/framebuffer.h"
#include "support/test_support.h"

namespace {

using Point = std::pair<int32_t, int32_t>;
using Points = std::set<Point>;

constexpr uint32_t kWhite = 0xFFFFFF;

// Every pixel of the picture that is not black.
Points lit() {
  Points points;
  for (int32_t y = 0; y < bhfo.height; y++) {
    for (int32_t x = 0; x < bhfo.width; x++) {
      if (pixelColour(x, y) != 0) points.insert({x, y});
    }
  }
  return points;
}

// The pixels of a horizontal run of count pixels from (x, y).
Points hrun(int32_t x, int32_t y, int32_t count) {
  Points points;
  for (int32_t i = 0; i < count; i++) points.insert({x + i, y});
  return points;
}

Points vrun(int32_t x, int32_t y, int32_t count) {
  Points points;
  for (int32_t i = 0; i < count; i++) points.insert({x, y + i});
  return points;
}

Points joined(std::initializer_list<Points> parts) {
  Points all;
  for (const Points& part : parts) all.insert(part.begin(), part.end());
  return all;
}

Points block(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  Points points;
  for (int32_t y = y1; y <= y2; y++) points.merge(hrun(x1, y, x2 - x1 + 1));
  return points;
}

class Shapes : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(loadBlankPicture(), kLoadOk); }
};

}  // namespace

TEST_F(Shapes, RunsStopAtTheRightAndTopEdges) {
  BMP_hline(630, 5, 20, 255, 255, 255);
  BMP_vline(3, 470, 20, 255, 255, 255);
  EXPECT_EQ(lit(), joined({hrun(630, 5, 10), vrun(3, 470, 10)}));
}

TEST_F(Shapes, RunsWhoseCountWrapsDrawOnlyUpToTheEdge) {
  BMP_hline(630, 5, UINT32_MAX, 255, 255, 255);
  BMP_vline(3, 470, UINT32_MAX - 100, 255, 255, 255);
  EXPECT_EQ(lit(), joined({hrun(630, 5, 10), vrun(3, 470, 10)}));
}

TEST_F(Shapes, RunsStartingBeyondTheClipOrLeftOfZeroAreDropped) {
  BMP_hline(640, 5, 10, 255, 255, 255);
  BMP_hline(uint32_t(-5), 5, 10, 255, 255, 255);
  BMP_hline(5, 480, 10, 255, 255, 255);
  BMP_vline(5, uint32_t(-5), 10, 255, 255, 255);
  BMP_vline(640, 5, 10, 255, 255, 255);
  BMP_hline(5, 5, 0, 255, 255, 255);
  EXPECT_TRUE(lit().empty());
}

TEST_F(Shapes, RunsFollowANarrowedClipButNotItsLeftAndBottomEdges) {
  BMP_GSetClip(100, 100, 200, 200);
  BMP_hline(50, 150, 500, 255, 255, 255);
  BMP_vline(150, 50, 500, 255, 255, 255);
  EXPECT_EQ(lit(), joined({hrun(50, 150, 150), vrun(150, 50, 150)}));
}

TEST_F(Shapes, RunsStoreTheColourInPixelOrderAndLeaveRowPaddingAlone) {
  // 630 pixels of 3 bytes leave 2 bytes of padding at the end of each row.
  ASSERT_EQ(loadBlankPicture(630, 20), kLoadOk);
  BMP_hline(0, 1, 630, 0x12, 0x34, 0x56);
  BMP_rect_filled(0, 2, 629, 3, 0x80, 0x80, 0x80);
  for (int32_t x = 0; x < 630; x++) {
    ASSERT_EQ(pixelColour(x, 1), 0x123456u) << x;
    ASSERT_EQ(pixelColour(x, 2), 0x808080u) << x;
  }
  const uint8_t* rows = BMP_DUMP + bmpPixelOffset();
  for (int32_t y = 0; y < 4; y++) {
    EXPECT_EQ(rows[y * 1892 + 1890], 0) << y;
    EXPECT_EQ(rows[y * 1892 + 1891], 0) << y;
  }
}

TEST_F(Shapes, RunsWriteTheSameBytesAsThePixelPrimitiveAtEveryDepth) {
  for (uint16_t bits : {8, 16, 32}) {
    BmpLayout layout;
    layout.width = 16;
    layout.height = 4;
    layout.bitCount = bits;
    layout.paletteBytes = bits == 8 ? 1024 : 0;
    ASSERT_EQ(loadPicture(makeBmp(layout)), kLoadOk);
    const uint32_t n = bmppar.bytesPerPixel;
    uint8_t* row0 = BMP_DUMP + bmpPixelOffset();
    BMP_SetPixel(0, 0, 0x12, 0x34, 0x56);
    BMP_hline(1, 0, 15, 0x12, 0x34, 0x56);
    BMP_vline(0, 1, 3, 0x12, 0x34, 0x56);
    for (uint32_t x = 1; x < 16; x++) {
      EXPECT_EQ(memcmp(row0 + x * n, row0, n), 0) << bits << " bits, x " << x;
    }
    for (uint32_t y = 1; y < 4; y++) {
      EXPECT_EQ(memcmp(row0 + y * bmppar.stride, row0, n), 0) << bits << " bits, y " << y;
    }
  }
}

TEST_F(Shapes, ClippedRunIsCutOnBothSides) {
  BMP_HLinePX(-5, 1, 10, 255, 255, 255);    // columns 0 .. 4
  BMP_HLinePX(630, 2, 100, 255, 255, 255);  // columns 630 .. 639
  BMP_HLinePX(-20, 3, 10, 255, 255, 255);   // ends left of column 0
  BMP_HLinePX(5, 4, -3, 255, 255, 255);     // negative count
  BMP_HLinePX(INT32_MIN, 5, INT32_MIN, 255, 255, 255);
  BMP_HLinePX(5, -1, 10, 255, 255, 255);
  BMP_HLinePX(5, 480, 10, 255, 255, 255);
  BMP_HLinePX(-5, 6, INT32_MAX, 255, 255, 255);  // whole row
  EXPECT_EQ(lit(), joined({hrun(0, 1, 5), hrun(630, 2, 10), hrun(0, 6, 640)}));
}

TEST_F(Shapes, RectangleOutlineIsTheSameInBothCornerOrders) {
  const Points expected =
      joined({hrun(200, 240, 251), hrun(200, 400, 251), vrun(200, 240, 161), vrun(450, 240, 161)});
  BMP_rect(200, 240, 450, 400, 255, 255, 255);
  EXPECT_EQ(lit(), expected);
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  BMP_rect(450, 400, 200, 240, 255, 255, 255);
  EXPECT_EQ(lit(), expected);
}

TEST_F(Shapes, ThinRectanglesDrawOneColumnOrOneRow) {
  BMP_rect(10, 20, 10, 29, 255, 255, 255);
  BMP_rect(30, 5, 39, 5, 255, 255, 255);
  BMP_rect_filled(50, 20, 50, 29, 255, 255, 255);
  EXPECT_EQ(lit(), joined({vrun(10, 20, 10), hrun(30, 5, 10), vrun(50, 20, 10)}));
}

TEST_F(Shapes, RectangleEdgesOnTheClipBoundAreDropped) {
  // As a widget draws its frame: the clip is the widget, the outline one larger.
  BMP_GSetClip(10, 10, 20, 20);
  BMP_rect(10, 10, 20, 20, 255, 255, 255);
  EXPECT_EQ(lit(), joined({hrun(10, 10, 10), vrun(10, 10, 10)}));
}

TEST_F(Shapes, FilledRectangleCoversBothCornersInEitherOrder) {
  BMP_rect_filled(30, 40, 20, 35, 255, 255, 255);
  EXPECT_EQ(lit(), block(20, 35, 30, 40));
}

TEST_F(Shapes, FilledRectangleOfWholeRowsFillsExactlyThoseRows) {
  BMP_rect_filled(0, 10, 639, 20, 0x12, 0x34, 0x56);
  EXPECT_EQ(lit(), block(0, 10, 639, 20));
  for (const auto& [x, y] : lit()) ASSERT_EQ(pixelColour(x, y), 0x123456u) << x << "," << y;
}

TEST_F(Shapes, FilledRectangleReachingThePictureEdgeOrWrappingIsCut) {
  BMP_rect_filled(630, 470, UINT32_MAX, UINT32_MAX, 255, 255, 255);
  BMP_rect_filled(0, 0, UINT32_MAX, 0, 255, 255, 255);
  BMP_rect_filled(uint32_t(-5), 5, 5, 5, 255, 255, 255);  // starts at 5, runs to the edge
  EXPECT_EQ(lit(), joined({block(630, 470, 639, 479), hrun(0, 0, 640), hrun(5, 5, 635)}));
}

TEST_F(Shapes, ClippedFilledRectangleWithNegativeCornersIsCut) {
  BMP_RectFilledPX(-20, -20, 5, 5, 255, 255, 255);
  BMP_RectFilledPX(635, 475, 700, 500, 255, 255, 255);
  BMP_RectFilledPX(INT32_MAX, 100, INT32_MIN, 100, 255, 255, 255);
  BMP_RectFilledPX(-10, -10, -1, -1, 255, 255, 255);
  EXPECT_EQ(lit(), joined({block(0, 0, 5, 5), block(635, 475, 639, 479), hrun(0, 100, 640)}));
}

TEST_F(Shapes, ColourExchangeReplacesOnlyTheOldColourInsideTheRectangle) {
  BMP_hline(0, 0, 20, 10, 20, 30);
  BMP_SetPixel(3, 0, 1, 1, 1);
  BMP_rectXchange(-5, 0, 10, 0, 255, 255, 255, 10, 20, 30);
  for (int32_t x = 0; x <= 10; x++) {
    EXPECT_EQ(pixelColour(x, 0), x == 3 ? 0x010101u : kWhite) << x;
  }
  for (int32_t x = 11; x < 20; x++) EXPECT_EQ(pixelColour(x, 0), 0x0A141Eu) << x;
  BMP_rectXchange(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0, 0, 255, 255, 255);
  EXPECT_EQ(pixelColour(0, 0), 0u);
  EXPECT_EQ(pixelColour(10, 0), 0u);
}

TEST_F(Shapes, AxisAlignedLinesLeaveOutTheirFarEnd) {
  BMP_Line(10, 5, 20, 5, 255, 255, 255);
  BMP_Line(20, 7, 10, 7, 255, 255, 255);
  BMP_Line(30, 40, 30, 35, 255, 255, 255);
  BMP_Line(50, 50, 50, 50, 255, 255, 255);
  EXPECT_EQ(lit(), joined({hrun(10, 5, 10), hrun(10, 7, 10), vrun(30, 35, 5)}));
}

TEST_F(Shapes, AxisAlignedLinesCompareTheirEndsUnsigned) {
  // -5 is a huge unsigned row: the run starts at row 10 and reaches the top.
  BMP_Line(3, -5, 3, 10, 255, 255, 255);
  EXPECT_EQ(lit(), vrun(3, 10, 470));
}

TEST_F(Shapes, LineAndItsReverseFollowTheTieRuleInTheirOwnDirection) {
  BMP_Line(0, 0, 4, 2, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  BMP_Line(4, 2, 0, 0, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{4, 2}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}));
}

TEST_F(Shapes, SteepLinesStepAlongY) {
  BMP_Line(0, 0, 2, 4, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}}));
}

TEST_F(Shapes, LineLeavingThePictureIsCutPointByPoint) {
  BMP_Line(-3, -3, 3, 3, 255, 255, 255);
  BMP_Line(637, 100, 643, 106, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {637, 100}, {638, 101}, {639, 102}}));
}

TEST_F(Shapes, LineStartingOutOfViewMatchesTheSameLineShiftedIntoView) {
  // A line's pixels depend only on its deltas: shifted so that it starts out
  // of view, the visible part must be the shifted pixels of the original.
  struct Case {
    int32_t x1, y1, x2, y2, shiftX, shiftY;
  };
  for (const Case c : {Case{0, 0, 600, 250, -200, -100}, Case{300, 150, 0, 0, 400, 0},
                       Case{0, 0, 150, 470, -30, -200}, Case{150, 470, 0, 0, 10, 100},
                       Case{10, 400, 630, 7, 333, 0}, Case{5, 5, 638, 477, -637, -1}}) {
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    BMP_Line(c.x1, c.y1, c.x2, c.y2, 255, 255, 255);
    Points expected;
    for (const auto& [x, y] : lit()) {
      const int32_t sx = x + c.shiftX, sy = y + c.shiftY;
      if (sx >= 0 && sx < 640 && sy >= 0 && sy < 480) expected.insert({sx, sy});
    }
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    BMP_Line(c.x1 + c.shiftX, c.y1 + c.shiftY, c.x2 + c.shiftX, c.y2 + c.shiftY, 255, 255, 255);
    EXPECT_EQ(lit(), expected) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2;
  }
}

TEST_F(Shapes, LinesBetweenTheFarthestPointsDrawOnlyTheirVisiblePixels) {
  BMP_Line(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 255, 255, 255);
  Points diagonal;
  for (int32_t i = 0; i < 480; i++) diagonal.insert({i, i});
  EXPECT_EQ(lit(), diagonal);
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  // Rises by one row at its midpoint, which is just left of column 0.
  BMP_Line(INT32_MIN, 0, INT32_MAX, 1, 255, 255, 255);
  EXPECT_EQ(lit(), hrun(0, 1, 640));
}

TEST_F(Shapes, TriangleLeavesTheCornerWhereTwoFarEndsMeetUndrawn) {
  BMP_triangle(0, 10, 10, 10, 10, 0, 255, 255, 255);
  Points expected = joined({hrun(0, 10, 10), vrun(10, 0, 10)});
  for (int32_t i = 0; i <= 10; i++) expected.insert({i, 10 - i});
  EXPECT_EQ(lit(), expected);
  EXPECT_EQ(pixelColour(10, 10), 0u);
}

TEST_F(Shapes, CirclesOfRadiusZeroAndOne) {
  BMP_Circle(5, 5, 1, 255, 255, 255);
  BMP_Circle(20, 20, 0, 255, 255, 255);
  BMP_Circle(30, 30, -4, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{5, 6}, {5, 4}, {6, 5}, {4, 5}, {20, 20}}));
}

TEST_F(Shapes, CircleOutlineIsSymmetricAndClosed) {
  BMP_Circle(100, 100, 10, 255, 255, 255);
  const Points points = lit();
  for (const auto& [x, y] : points) {
    const int32_t dx = x - 100, dy = y - 100;
    EXPECT_TRUE(points.count({100 - dx, y}) && points.count({x, 100 - dy}) &&
                points.count({100 + dy, 100 + dx}))
        << x << "," << y;
    EXPECT_NEAR(dx * dx + dy * dy, 100, 10) << x << "," << y;
  }
  EXPECT_TRUE(points.count({110, 100}) && points.count({100, 110}) && points.count({90, 100}));
}

TEST_F(Shapes, CircleCutAtThePictureCornerKeepsItsVisiblePoints) {
  BMP_Circle(0, 0, 3, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{0, 3}, {3, 0}, {1, 3}, {3, 1}, {2, 2}}));
}

TEST_F(Shapes, DiscsOfRadiusZeroOneAndBelow) {
  BMP_Circlefill(5, 5, 1, 255, 255, 255);
  BMP_Circlefill(20, 20, 0, 255, 255, 255);
  BMP_Circlefill(30, 30, -1, 255, 255, 255);
  BMP_Circlefill(300, 300, INT32_MIN, 255, 255, 255);
  EXPECT_EQ(lit(), (Points{{4, 5}, {5, 5}}));
}

TEST_F(Shapes, DiscRowsAreSolidRunsOfTwoHalfWidths) {
  BMP_Circlefill(100, 100, 10, 255, 255, 255);
  const Points points = lit();
  for (int32_t y = 90; y <= 110; y++) {
    int32_t count = 0, minX = 1000, maxX = -1;
    for (const auto& [x, py] : points) {
      if (py != y) continue;
      count++;
      minX = std::min(minX, x);
      maxX = std::max(maxX, x);
    }
    // A solid run centred with one more column left of the centre.
    EXPECT_EQ(count, maxX - minX + 1) << y;
    EXPECT_EQ(100 - minX, maxX - 100 + 1) << y;
  }
  // The centre row spans 90 .. 109: the outline's column 110 stays unfilled.
  EXPECT_TRUE(points.count({90, 100}) && points.count({109, 100}));
  EXPECT_EQ(points.count({110, 100}), 0u);
  EXPECT_TRUE(points.count({100, 90}) && points.count({100, 110}));
}

TEST_F(Shapes, DiscCutAtTheLeftEdgeDropsRowsStartingLeftOfColumnZero) {
  // The same disc in full view gives every row's run; near the left edge a
  // row is drawn whole when its half-width is 5 or less, and dropped otherwise.
  BMP_Circlefill(100, 100, 10, 255, 255, 255);
  const Points full = lit();
  std::map<int32_t, int32_t> leftmost;
  for (const auto& [x, y] : full) {
    if (!leftmost.count(y) || x < leftmost[y]) leftmost[y] = x;
  }
  Points expected;
  for (const auto& [x, y] : full) {
    if (100 - leftmost[y] <= 5) expected.insert({x - 95, y});
  }
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  BMP_Circlefill(5, 100, 10, 255, 255, 255);
  EXPECT_EQ(lit(), expected);
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(expected.count({0, 100}), 0u);
}

TEST_F(Shapes, RaggedDiscAlternatesItsWideningAfterTheFirstRows) {
  BMP_Circlefill_fuzzy(100, 100, 10, 255, 255, 255, 3);
  // The first pair of rows is the centre row, widened by the caller's 3.
  EXPECT_EQ(pixelColour(87, 100), kWhite);
  EXPECT_EQ(pixelColour(112, 100), kWhite);
  EXPECT_EQ(pixelColour(86, 100), 0u);
  EXPECT_EQ(pixelColour(113, 100), 0u);
  // Then 1 (anything but 1 turns into 1): half-width 11 on rows 99 and 101.
  EXPECT_EQ(pixelColour(89, 101), kWhite);
  EXPECT_EQ(pixelColour(88, 101), 0u);
  // Then -1: half-width 9 on rows 98 and 102.
  EXPECT_EQ(pixelColour(91, 102), kWhite);
  EXPECT_EQ(pixelColour(90, 102), 0u);
}

TEST_F(Shapes, RaggedDiscRowsNarrowedPastTheirCentreDrawNothing) {
  BMP_Circlefill_fuzzy(100, 100, 1, 255, 255, 255, -1);
  EXPECT_TRUE(lit().empty());
  // The centre row's run has width 2 (3 - 50) < 0; the later rows alternate as usual.
  BMP_Circlefill_fuzzy(200, 200, 3, 255, 255, 255, -50);
  for (int32_t x = 0; x < 640; x++) ASSERT_EQ(pixelColour(x, 200), 0u) << x;
  EXPECT_EQ(pixelColour(196, 201), kWhite);
  EXPECT_EQ(pixelColour(195, 201), 0u);
}
