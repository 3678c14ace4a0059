// Font selection, glyph placement in both fonts, and rows of text.
#include "graphics/font.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "graphics/framebuffer.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0xFF0000;

void drawA(int32_t x, int32_t y, uint8_t drawBack) {
  BMP_outchar('A', x, y, 255, 255, 255, 255, 0, 0, drawBack);
}

void textWhite(const char* text, int16_t x, int16_t y) {
  BMP_textout(text, x, y, 255, 255, 255, 0, 0, 0, 0);
}

std::vector<uint8_t> pictureBytes() {
  return std::vector<uint8_t>(BMP_DUMP, BMP_DUMP + bmpFileSize());
}

// Columns of row y in [x1, x2] that are not black.
std::vector<int32_t> inkedColumns(int32_t y, int32_t x1, int32_t x2) {
  std::vector<int32_t> columns;
  for (int32_t x = x1; x <= x2; x++) {
    if (pixelColour(x, y) != 0) columns.push_back(x);
  }
  return columns;
}

}  // namespace

TEST(FontSelection, KnownCodesSelectAndOthersLeaveTheFont) {
  EXPECT_EQ(BMP_SetFont(881), 255);
  EXPECT_EQ(FontBits, 8);
  EXPECT_EQ(FontByts, 8);
  EXPECT_EQ(AddrFont, Font_8_8);
  EXPECT_EQ(BMP_SetFont(571), 255);
  EXPECT_EQ(FontBits, 5);
  EXPECT_EQ(FontByts, 7);
  EXPECT_EQ(FontNBit, 3);
  EXPECT_EQ(FontLR, 0);
  EXPECT_EQ(AddrFont, Font_5_7);
  for (int32_t code : {880, 0, -881, 882, 570}) {
    EXPECT_EQ(BMP_SetFont(code), 0) << code;
    EXPECT_EQ(AddrFont, Font_5_7) << code;
    EXPECT_EQ(FontBits, 5) << code;
  }
}

TEST(FontSelection, NothingIsDrawnBeforeAFontIsSelected) {
  ASSERT_EQ(loadBlankPicture(64, 32), kLoadOk);
  // The font state as at process start.
  FontBits = FontByts = FontNBit = 0;
  FontLR = 0;
  AddrFont = nullptr;
  const std::vector<uint8_t> before = pictureBytes();
  drawA(10, 10, 1);
  textWhite("AAA", 0, 0);
  EXPECT_EQ(pictureBytes(), before);
}

TEST(Glyph8x8, LetterACoversColumnsXToXPlus7AndRowsAboveY) {
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  drawA(10, 20, 0);
  EXPECT_EQ(inkedColumns(28, 0, 63), (std::vector<int32_t>{11, 12, 13, 14, 15}));  // top bar
  EXPECT_EQ(inkedColumns(25, 0, 63), (std::vector<int32_t>{10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(inkedColumns(22, 0, 63), (std::vector<int32_t>{10, 16}));  // legs
  EXPECT_TRUE(inkedColumns(21, 0, 63).empty());                        // blank bottom row
  EXPECT_TRUE(inkedColumns(20, 0, 63).empty());
  EXPECT_TRUE(inkedColumns(29, 0, 63).empty());
  EXPECT_EQ(pixelColour(11, 28), kWhite);
}

TEST(Glyph8x8, BackgroundFillsTheWholeCellAndNothingElse) {
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  drawA(10, 20, 255);
  int inked = 0;
  for (int32_t y = 0; y < 64; y++) {
    for (int32_t x = 0; x < 64; x++) {
      const bool inCell = x >= 10 && x <= 17 && y >= 21 && y <= 28;
      const uint32_t colour = pixelColour(x, y);
      if (!inCell) {
        EXPECT_EQ(colour, 0u) << x << "," << y;
        continue;
      }
      EXPECT_TRUE(colour == kWhite || colour == kRed) << x << "," << y;
      inked += colour == kWhite;
    }
  }
  EXPECT_EQ(inked, 5 + 2 + 2 + 7 + 2 + 2 + 2);  // the rows of "A" above
}

TEST(Glyph5x7, LetterALandsOneColumnRight) {
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont5x7), 255);
  drawA(10, 20, 0);
  EXPECT_EQ(inkedColumns(26, 0, 63), (std::vector<int32_t>{13}));  // apex
  EXPECT_EQ(inkedColumns(21, 0, 63), (std::vector<int32_t>{11, 15}));
  EXPECT_TRUE(inkedColumns(27, 0, 63).empty());  // blank top row
  EXPECT_TRUE(inkedColumns(20, 0, 63).empty());

  // The cell with its background: columns 11..15, rows 21..27.
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  drawA(10, 20, 255);
  for (int32_t y = 19; y <= 29; y++) {
    for (int32_t x = 9; x <= 17; x++) {
      const bool inCell = x >= 11 && x <= 15 && y >= 21 && y <= 27;
      EXPECT_EQ(pixelColour(x, y) != 0, inCell) << x << "," << y;
    }
  }
}

TEST(Glyph8x8, CellsAcrossThePictureEdgesAreCutNotWrapped) {
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  drawA(-4, -4, 255);
  EXPECT_EQ(pixelColour(0, 0), kRed);  // bottom-left part of the cell
  EXPECT_EQ(pixelColour(3, 4), kRed);
  EXPECT_EQ(pixelColour(4, 0), 0u);
  drawA(60, 60, 255);
  EXPECT_EQ(pixelColour(63, 63), kRed);
  EXPECT_EQ(pixelColour(60, 60), 0u);  // below the cell

  // Positions at the ends of the 32-bit range draw nothing at all.
  const std::vector<uint8_t> before = pictureBytes();
  drawA(INT32_MAX - 2, INT32_MAX - 2, 255);
  drawA(INT32_MIN, INT32_MIN, 255);
  drawA(INT32_MAX, 10, 255);
  EXPECT_EQ(pictureBytes(), before);
}

TEST(Text, DrawsAtMost256Characters) {
  ASSERT_EQ(loadBlankPicture(2100, 16), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  const std::string text(300, 'A');
  textWhite(text.c_str(), 0, 0);
  EXPECT_EQ(inkedColumns(8, 2040, 2047), (std::vector<int32_t>{2041, 2042, 2043, 2044, 2045}));
  EXPECT_TRUE(inkedColumns(8, 2048, 2099).empty());
  EXPECT_TRUE(inkedColumns(5, 2048, 2099).empty());
}

TEST(Text, EmptyOrMissingTextDrawsNothing) {
  ASSERT_EQ(loadBlankPicture(64, 32), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  const std::vector<uint8_t> before = pictureBytes();
  textWhite("", 10, 10);
  BMP_textout(nullptr, 10, 10, 255, 255, 255, 255, 255, 255, 1);
  EXPECT_EQ(pictureBytes(), before);
}

TEST(Text, ControlBytesAreGlyphsAndAdvanceLikeAnyOther) {
  ASSERT_EQ(loadBlankPicture(64, 32), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont5x7), 255);
  textWhite("A\nA", 2, 0);
  // Third character at 2 + 2 * 5 on the same row; its apex at x + 3.
  EXPECT_EQ(pixelColour(15, 6), kWhite);
  EXPECT_EQ(pixelColour(5, 6), kWhite);
}

TEST(Text, OriginIsTakenAs16BitSigned) {
  ASSERT_EQ(loadBlankPicture(4480, 16), kLoadOk);
  ASSERT_EQ(BMP_SetFont(kFont8x8), 255);
  int32_t x = 70000;  // 70000 - 65536 = 4464
  int32_t y = 65536 + 2;
  BMP_textout("A0", x, y, 255, 255, 255, 0, 0, 255, 1);
  const std::vector<uint8_t> wrapped = pictureBytes();
  ASSERT_EQ(loadBlankPicture(4480, 16), kLoadOk);
  BMP_textout("A0", 4464, 2, 255, 255, 255, 0, 0, 255, 1);
  EXPECT_EQ(pixelColour(4465, 10), kWhite);
  EXPECT_EQ(pictureBytes(), wrapped);
}
