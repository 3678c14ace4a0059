// The locked drawing interface: each call draws what its primitive draws and
// leaves BMPmutex free; a thread holding BMPmutex holds the call back.
#include "graphics/draw.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "graphics/shapes.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"

namespace {

std::vector<uint8_t> picture() {
  return std::vector<uint8_t>(BMP_DUMP, BMP_DUMP + bmpFileSize());
}

bool lockIsFree() {
  if (pthread_mutex_trylock(&BMPmutex) != 0) return false;
  pthread_mutex_unlock(&BMPmutex);
  return true;
}

struct Pair {
  const char* name;
  std::function<void()> locked;
  std::function<void()> direct;
};

}  // namespace

TEST(LockedDrawing, EachCallDrawsWhatItsPrimitiveDrawsAndFreesTheLock) {
  const std::vector<Pair> pairs = {
      {"setpixel", [] { setpixel(5, 6, 1, 2, 3); }, [] { BMP_SetPixel(5, 6, 1, 2, 3); }},
      {"line", [] { line(3, 4, 300, 200, 9, 8, 7); }, [] { BMP_Line(3, 4, 300, 200, 9, 8, 7); }},
      {"circle", [] { circle(100, 100, 40, 1, 1, 1); }, [] { BMP_Circle(100, 100, 40, 1, 1, 1); }},
      {"circlefill", [] { circlefill(100, 100, 40, 2, 2, 2); },
       [] { BMP_Circlefill(100, 100, 40, 2, 2, 2); }},
      {"rectangle", [] { rectangle(450, 400, 200, 240, 3, 3, 3); },
       [] { BMP_rect(450, 400, 200, 240, 3, 3, 3); }},
      {"rectanglefill", [] { rectanglefill(-5, 10, 20, 30, 4, 4, 4); },
       [] { BMP_rect_filled(uint32_t(-5), 10, 20, 30, 4, 4, 4); }},
      {"triangle", [] { triangle(0, 10, 10, 10, 10, 0, 5, 5, 5); },
       [] { BMP_triangle(0, 10, 10, 10, 10, 0, 5, 5, 5); }},
      {"outchar", [] { outchar(0x141, 10, 20, 255, 255, 255, 1, 2, 3, 255); },
       [] { BMP_outchar('A', 10, 20, 255, 255, 255, 1, 2, 3, 255); }},
      {"textout", [] { textout("A0A0", 65536 + 10, 20, 255, 0, 0, 0, 0, 0, 0); },
       [] { BMP_textout("A0A0", 10, 20, 255, 0, 0, 0, 0, 0, 0); }},
  };
  for (const Pair& pair : pairs) {
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    BMP_SetFont(kFont8x8);
    pair.direct();
    const std::vector<uint8_t> expected = picture();
    ASSERT_EQ(loadBlankPicture(), kLoadOk);
    BMP_SetFont(kFont8x8);
    pair.locked();
    EXPECT_TRUE(picture() == expected) << pair.name;
    EXPECT_TRUE(lockIsFree()) << pair.name;
  }
}

TEST(LockedDrawing, ResultsAreThoseOfTheTableEvenWhenNothingIsDrawn) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  EXPECT_EQ(setpixel(640, 0, 255, 255, 255), -1);
  EXPECT_TRUE(lockIsFree());
  EXPECT_EQ(setpixel(639, 479, 255, 255, 255), 0);
  EXPECT_EQ(line(700, 700, 800, 900, 255, 255, 255), 0);
  EXPECT_EQ(circle(-100, -100, 5, 255, 255, 255), 0);
  EXPECT_EQ(circlefill(-100, -100, 5, 255, 255, 255), 0);
  EXPECT_EQ(rectangle(700, 700, 800, 800, 255, 255, 255), 0);
  EXPECT_EQ(rectanglefill(700, 700, 800, 800, 255, 255, 255), 0);
  EXPECT_TRUE(lockIsFree());
}

TEST(LockedDrawing, FontSelectionKeepsTheFontOnAnUnknownCode) {
  setfont(kFont5x7);
  EXPECT_EQ(FontBits, 5);
  setfont(880);
  EXPECT_EQ(FontBits, 5);
  EXPECT_EQ(AddrFont, Font_5_7);
  setfont(kFont8x8);
  EXPECT_EQ(FontBits, 8);
  EXPECT_TRUE(lockIsFree());
}

TEST(LockedDrawing, ThreadHoldingTheLockHoldsTheCallBack) {
  ASSERT_EQ(loadBlankPicture(), kLoadOk);
  pthread_mutex_lock(&BMPmutex);
  std::atomic<bool> started{false}, done{false};
  std::thread drawer([&] {
    started = true;
    rectanglefill(0, 0, 9, 9, 255, 255, 255);
    done = true;
  });
  // Unheld, the fill ends microseconds after the thread starts: within the
  // wait it would end, however busy the machine.
  const bool running = eventually([&] { return started.load(); }, 20000, 1);
  const bool finishedWhileHeld = eventually([&] { return done.load(); }, 1000, 1);
  pthread_mutex_unlock(&BMPmutex);
  drawer.join();
  EXPECT_TRUE(running);
  EXPECT_FALSE(finishedWhileHeld);
  EXPECT_TRUE(done);
  EXPECT_EQ(pixelColour(9, 9), 0xFFFFFFu);
}
