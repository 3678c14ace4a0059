// The drawn-area record: a panel's note of its own write, cut to the picture
// without wrapping, and taken by the screen whole and once.
#include "graphics/drawn_area.h"

#include <gtest/gtest.h>

#include <climits>

#include "graphics/framebuffer.h"
#include "support/test_support.h"

TEST(DrawnArea, NotedWriteIsCutToThePictureAndTakenOnce) {
  ASSERT_EQ(loadBlankPicture(64, 48), kLoadOk);
  FrameLock lock;
  bmpTakeArea();  // the load and the first beat, which is due at once
  struct Case {
    const char* what;
    int32_t x, y, width, height;
    BmpDirtyArea taken;  // left, top, right, bottom, whole
  };
  const BmpDirtyArea none = kBmpCleanArea;
  const Case cases[] = {
      {"inside", 10, 20, 4, 1, {10, 20, 14, 21, false}},
      {"over the near edges", -5, -3, 10, 10, {0, 0, 5, 7, false}},
      {"over the far edges", 60, 40, 100, 100, {60, 40, 64, 48, false}},
      {"the largest size", 0, 0, INT32_MAX, INT32_MAX, {0, 0, 64, 48, false}},
      {"no width", 10, 10, 0, 5, none},
      {"negative height", 10, 10, 5, -1, none},
      {"beyond the picture", 64, 0, 1, 1, none},
      {"a far corner past INT32_MAX", 10, 0, INT32_MAX, 1, {10, 0, 64, 1, false}},
      {"ending before the picture", INT32_MIN, 0, INT32_MAX, 2, none},
  };
  for (const Case& c : cases) {
    bmpNoteWrite(c.x, c.y, c.width, c.height);
    EXPECT_EQ(bmpWritten.load(), c.taken.right != 0) << c.what;
    const BmpDirtyArea area = bmpTakeArea();
    EXPECT_EQ(area.left, c.taken.left) << c.what;
    EXPECT_EQ(area.top, c.taken.top) << c.what;
    EXPECT_EQ(area.right, c.taken.right) << c.what;
    EXPECT_EQ(area.bottom, c.taken.bottom) << c.what;
    EXPECT_EQ(area.whole, c.taken.whole) << c.what;
    EXPECT_FALSE(bmpWritten.load()) << c.what << ": the take leaves the record clean";
  }
}
