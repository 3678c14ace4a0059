// The drawn-area record: a panel's note of its own write, cut to the picture
// without wrapping, and taken by the screen whole and once.
#include "graphics/drawn_area.h"

#include <gtest/gtest.h>

#include <climits>

#include "graphics/framebuffer.h"
#include "support/test_support.h"

TEST(DrawnArea, NotedWriteIsCutToThePictureAndTakenOnce) {
  ASSERT_EQ(loadBlankPicture(64, 48), kLoadOk);
  {
    FrameLock lock;
    bmpTakeArea();  // the load and the first beat, which is due at once
  }
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
    {
      FrameLock lock;
      bmpNoteWrite(c.x, c.y, c.width, c.height);
    }
    EXPECT_EQ(bmpWritten.load(), c.taken.right != 0) << c.what;
    FrameLock lock;
    const BmpDirtyArea area = bmpTakeArea();
    EXPECT_EQ(area.left, c.taken.left) << c.what;
    EXPECT_EQ(area.top, c.taken.top) << c.what;
    EXPECT_EQ(area.right, c.taken.right) << c.what;
    EXPECT_EQ(area.bottom, c.taken.bottom) << c.what;
    EXPECT_EQ(area.whole, c.taken.whole) << c.what;
    EXPECT_FALSE(bmpWritten.load()) << c.what << ": the take leaves the record clean";
  }
}

namespace {
bool changeSeen = false;  // what the stand-in change test answers
int drawnCalls = 0;
}  // namespace

// A write counts when its hold ends, and only when the change test says its
// bytes changed: a redraw of what is there raises nothing, calls no hook and
// leaves no area; a load counts whatever the test says; the hook is called
// once until the screen takes the area.
TEST(DrawnArea, OnlyAHoldThatChangedBytesCountsAndCallsTheHook) {
  ASSERT_EQ(loadBlankPicture(64, 48), kLoadOk);
  bmpChangeTest.store([](const BmpDirtyArea&) { return changeSeen; });
  bmpDrawnHook.store([] { ++drawnCalls; });
  bmpBeatMillis = 0;  // no slow beat widens a take to the whole file
  struct Case {
    const char* what;
    bool changed;  // the change test's answer
    bool whole;    // a load rather than a noted box
    int holds;     // holds before the take, each noting the same box
    bool counted;
  };
  const Case cases[] = {
      {"a redraw that changed nothing", false, false, 1, false},
      {"a write that changed bytes", true, false, 1, true},
      {"two changing holds before the take", true, false, 2, true},
      {"a load", false, true, 1, true},
  };
  for (const Case& c : cases) {
    {
      FrameLock lock;
      bmpTakeArea();
    }
    changeSeen = c.changed;
    drawnCalls = 0;
    for (int hold = 0; hold < c.holds; ++hold) {
      FrameLock lock;
      if (c.whole) {
        bmpNoteWhole();
      } else {
        bmpNoteWrite(10, 20, 4, 1);
      }
      if (hold == 0) {
        EXPECT_FALSE(bmpWritten.load()) << c.what << ": nothing counts inside the hold";
      }
    }
    EXPECT_EQ(bmpWritten.load(), c.counted) << c.what;
    EXPECT_EQ(drawnCalls, c.counted ? 1 : 0) << c.what;
    FrameLock lock;
    const BmpDirtyArea area = bmpTakeArea();
    EXPECT_EQ(area.right != 0 || area.whole, c.counted)
        << c.what << ": the area is kept or dropped";
  }
  bmpChangeTest.store(nullptr);
  bmpDrawnHook.store(nullptr);
  bmpBeatMillis = kWholeBeatMillis;
}
