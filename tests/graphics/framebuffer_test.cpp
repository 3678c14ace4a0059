// Pixel primitives and the clip rectangle.
#include "graphics/framebuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "support/test_support.h"

TEST(Pixels, CornerPixelIsWrittenAndOutsidePixelsAreRejected) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  EXPECT_EQ(BMP_SetPixel(639, 479, 1, 2, 3), 0);
  EXPECT_EQ(pixelColour(639, 479), 0x010203u);
  const std::pair<int64_t, int64_t> outside[] = {
      {640, 0}, {0, 480}, {-1, 0}, {0, -1}, {INT64_MIN, 0}, {0, INT64_MAX}, {int64_t(1) << 32, 0}};
  for (auto [x, y] : outside) {
    EXPECT_EQ(BMP_SetPixel(x, y, 255, 255, 255), -1) << x << "," << y;
    EXPECT_EQ(iBMP_SetPixel(x, y, 255, 255, 255), -1) << x << "," << y;
  }
  for (uint32_t i = 0; i < bmpFileSize() - 54; i++) {
    if (i == 479u * 1920 + 639 * 3) {
      i += 2;
      continue;
    }
    ASSERT_EQ(BMP_DUMP[54 + i], 0) << "stray byte at " << i;
  }
}

TEST(Pixels, BytesAreStoredBlueGreenRedInTheFirstRow) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  EXPECT_EQ(BMP_SetPixel(10, 0, 255, 0, 0), 0);
  EXPECT_EQ(BMP_DUMP[54 + 30], 0x00);
  EXPECT_EQ(BMP_DUMP[54 + 31], 0x00);
  EXPECT_EQ(BMP_DUMP[54 + 32], 0xFF);
  uint8_t r = 1, g = 1, b = 1;
  EXPECT_EQ(BMP_GetPixel(10, 0, &r, &g, &b), 0);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(b, 0);
  r = g = b = 7;
  EXPECT_EQ(BMP_GetPixel(640, 0, &r, &g, &b), -1);
  EXPECT_EQ(r + g + b, 21) << "outputs untouched outside the clip";
}

TEST(Clip, RightAndTopEdgesAreEnforcedLeftAndBottomAreNot) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  BMP_GSetClip(100, 100, 200, 200);
  EXPECT_EQ(BMP_SetPixel(50, 150, 9, 9, 9), 0);
  EXPECT_EQ(BMP_SetPixel(150, 50, 9, 9, 9), 0);
  EXPECT_EQ(BMP_SetPixel(200, 150, 9, 9, 9), -1);
  EXPECT_EQ(BMP_SetPixel(150, 200, 9, 9, 9), -1);
  EXPECT_EQ(BMP_SetPixel(199, 199, 9, 9, 9), 0);
}

TEST(Clip, BoundsAreClampedToThePicture) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  BMP_GSetClip(0, 0, 10000, -1);
  EXPECT_EQ(x2_clip, 640);
  EXPECT_EQ(y2_clip, 480);
  BMP_GSetClip(-5, -7, 300, 200);
  EXPECT_EQ(x1_clip, 0);
  EXPECT_EQ(y1_clip, 0);
  EXPECT_EQ(x2_clip, 300);
  EXPECT_EQ(y2_clip, 200);
  BMP_GSetClip(50, 60, 10, 20);  // x2 below x1 is kept as given
  EXPECT_EQ(x1_clip, 50);
  EXPECT_EQ(x2_clip, 10);
  EXPECT_EQ(BMP_SetPixel(5, 5, 1, 1, 1), 0);
  EXPECT_EQ(BMP_SetPixel(10, 5, 1, 1, 1), -1);
}

TEST(Pixels, ExchangeReplacesOnlyTheOldColour) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  ASSERT_EQ(BMP_SetPixel(5, 5, 10, 20, 30), 0);
  EXPECT_EQ(BMP_XchangePixel(5, 5, 1, 2, 3, 10, 20, 31), 0);
  EXPECT_EQ(pixelColour(5, 5), 0x0A141Eu) << "different old colour leaves the pixel";
  EXPECT_EQ(BMP_XchangePixel(5, 5, 1, 2, 3, 10, 20, 30), 0);
  EXPECT_EQ(pixelColour(5, 5), 0x010203u);
  EXPECT_EQ(BMP_XchangePixel(x2_clip, 5, 1, 2, 3, 0, 0, 0), -1);
  EXPECT_EQ(BMP_XchangePixel(-1, 5, 1, 2, 3, 0, 0, 0), -1);
}

TEST(Pixels, NothingIsDrawnBeforeAPictureIsLoaded) {
  EXPECT_EQ(BMP_SetPixel(0, 0, 1, 1, 1), -1);
  uint8_t r, g, b;
  EXPECT_EQ(BMP_GetPixel(0, 0, &r, &g, &b), -1);
}
