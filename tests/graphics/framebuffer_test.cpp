// Pixel primitives and the clip rectangle.
#include "graphics/framebuffer.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(Pixels, CornerPixelIsWrittenAndOutsidePixelsAreRejected) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  EXPECT_EQ(BMP_SetPixel(639, 479, 1, 2, 3), 0);
  EXPECT_EQ(pixelColour(639, 479), 0x010203u);
  for (auto [x, y] : {std::pair<int64_t, int64_t>{640, 0}, {0, 480}, {-1, 0}, {0, -1}}) {
    EXPECT_EQ(BMP_SetPixel(x, y, 255, 255, 255), -1) << x << "," << y;
  }
}
