// Runs, lines, circles, discs, rectangles and triangles, checked pixel by
// pixel on a black picture.
#include "graphics/shapes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
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
    BmpSpec spec;
    spec.width = 16;
    spec.height = 4;
    spec.bitCount = bits;
    spec.paletteBytes = bits == 8 ? 1024 : 0;
    ASSERT_EQ(loadPicture(makeBmp(spec)), kLoadOk);
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
