// The screen message: the three header forms, change detection against the
// copy last sent, the streaming flag, and pictures up to the largest the
// frame buffer accepts.
#include "server/screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "graphics/draw.h"
#include "graphics/font.h"
#include "graphics/framebuffer.h"
#include "server/records.h"
#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/ws_client.h"
#include "widgets/buttons.h"

namespace {

constexpr uint8_t kBinary = kFinalBit | kOpBinary;  // a whole binary message

std::unique_ptr<wssession> record() {
  auto made = std::make_unique<wssession>();
  memset(made.get(), 0, sizeof(wssession));
  return made;
}

// A one-pixel picture padded with trailing bytes to exactly `size` bytes,
// its size field saying so; loaded into the frame buffer.
void loadPictureOfSize(uint32_t size) {
  BmpLayout layout;
  layout.width = 1;
  layout.height = 1;
  std::vector<uint8_t> bytes = makeBmp(layout);
  ASSERT_LE(bytes.size(), size);
  bytes.resize(size, 0xA5);
  putLe32(bytes, 2, size);
  ASSERT_EQ(loadPicture(bytes), kLoadOk);
  ASSERT_EQ(bmpFileSize(), size);
}

std::vector<uint8_t> headerOf(const wssession& rec, size_t size) {
  return std::vector<uint8_t>(rec.txbuf, rec.txbuf + size);
}

bool payloadIsPicture(const wssession& rec, uint32_t header) {
  return memcmp(rec.txbuf + header, BMP_DUMP, bmpFileSize()) == 0;
}

void setLastByte(uint8_t value) {
  pthread_mutex_lock(&BMPmutex);
  BMP_DUMP[bmpFileSize() - 1] = value;
  pthread_mutex_unlock(&BMPmutex);
}

}  // namespace

TEST(Screen, HeaderFormsFollowThePictureSize) {
  flagNew = 255;
  struct Case {
    uint32_t size;
    std::vector<uint8_t> header;
  };
  const Case cases[] = {
      {kMax7, {kBinary, kMax7}},
      {kMax7 + 1, {kBinary, kLength16, 0, kMax7 + 1}},
      {kMax16, {kBinary, kLength16, 0xFF, 0xFF}},
      {kMax16 + 1, {kBinary, kLength64, 0, 0, 0, 0, 0, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    loadPictureOfSize(c.size);
    auto rec = record();
    const uint32_t header = uint32_t(c.header.size());
    EXPECT_EQ(wsscreen(rec->txbuf), int(header + c.size)) << c.size;
    EXPECT_EQ(headerOf(*rec, header), c.header) << c.size;
    EXPECT_TRUE(payloadIsPicture(*rec, header)) << c.size;
  }
}

TEST(Screen, UnchangedPictureGivesZeroAndAChangedLastByteTheWholeFrame) {
  flagNew = 255;
  ASSERT_EQ(loadBlankPicture(640, 480), kLoadOk);
  ASSERT_EQ(bmpFileSize(), 921654u);
  auto rec = record();
  EXPECT_EQ(wsscreen(rec->txbuf), 921664);
  EXPECT_EQ(wsscreen(rec->txbuf), 0);
  setLastByte(0x7E);
  EXPECT_EQ(wsscreen(rec->txbuf), 921664);
  EXPECT_TRUE(payloadIsPicture(*rec, 10));
  EXPECT_EQ(wsscreen(rec->txbuf), 0);
}

TEST(Screen, EachConnectionKeepsItsOwnCopy) {
  flagNew = 255;
  ASSERT_EQ(loadBlankPicture(32, 32), kLoadOk);
  auto first = record();
  auto second = record();
  EXPECT_GT(wsscreen(first->txbuf), 0);
  setLastByte(1);
  EXPECT_GT(wsscreen(second->txbuf), 0);
  EXPECT_EQ(wsscreen(second->txbuf), 0);
  EXPECT_GT(wsscreen(first->txbuf), 0);
}

TEST(Screen, NothingBeforeStreamingAndTxbufUntouched) {
  flagNew = 0;
  ASSERT_EQ(loadBlankPicture(32, 32), kLoadOk);
  auto rec = record();
  memset(rec->txbuf, 0x5A, 4096);
  EXPECT_EQ(wsscreen(rec->txbuf), 0);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(rec->txbuf[i], 0x5A) << i;
}

TEST(Screen, RefusedPictureStreamsNothing) {
  flagNew = 255;
  std::vector<uint8_t> tooLarge = makeBmp(BmpLayout{});
  putLe32(tooLarge, 2, kFrameBufferSize + 1);
  ASSERT_LT(loadPicture(tooLarge), 0);
  auto rec = record();
  EXPECT_EQ(wsscreen(rec->txbuf), 0);
}

TEST(Screen, LargestAcceptedPictureFillsTheTransmitBufferExactly) {
  flagNew = 255;
  loadPictureOfSize(kFrameBufferSize);
  auto rec = record();
  EXPECT_EQ(wsscreen(rec->txbuf), int(kTxBufSize));
  EXPECT_TRUE(payloadIsPicture(*rec, 10));
  setLastByte(0x11);
  EXPECT_EQ(wsscreen(rec->txbuf), int(kTxBufSize));
  EXPECT_EQ(rec->txbuf[kTxBufSize - 1], 0x11);
}

TEST(Screen, FramesCarryOneConsistentPictureWhileDrawingGoesOn) {
  flagNew = 255;
  ASSERT_EQ(loadBlankPicture(64, 64), kLoadOk);
  const uint32_t pixels = bmpPixelOffset();
  const uint32_t size = bmpFileSize();
  std::atomic<bool> done{false};
  // Repaints every pixel byte with one value, under the lock, as drawing does.
  std::thread painter([&] {
    for (uint8_t value = 1; !done.load(); ++value) {
      pthread_mutex_lock(&BMPmutex);
      memset(BMP_DUMP + pixels, value, size - pixels);
      pthread_mutex_unlock(&BMPmutex);
    }
  });
  auto rec = record();
  int frames = 0;
  for (int i = 0; i < 200; ++i) {
    if (wsscreen(rec->txbuf) == 0) continue;
    ++frames;
    const uint8_t* copy = rec->txbuf + 4 + pixels;
    for (uint32_t k = 1; k < size - pixels; ++k) ASSERT_EQ(copy[k], copy[0]) << k;
  }
  done = true;
  painter.join();
  EXPECT_GT(frames, 0);
}

// screenFrame: a connection gets the picture first, then a message only when
// drawing changed bytes; redrawing the same pixels sends nothing, and a
// compressed connection's message inflates to the same picture.
TEST(Screen, SharedSnapshotSendsOnlyWhatDrawingChanged) {
  ASSERT_EQ(loadBlankPicture(64, 48), kLoadOk);
  flagNew = 255;
  auto plain = record();
  auto packed = record();
  packed->deflateOn = 1;
  auto setPixel = [](uint8_t red) {
    {
      FrameLock lock;
      BMP_SetPixel(5, 6, red, 0, 0);
    }
  };
  auto picture = [] { return std::vector<uint8_t>(BMP_DUMP, BMP_DUMP + bmpFileSize()); };
  auto inflated = [](const wssession& rec, int length) {
    std::vector<uint8_t> out;
    EXPECT_EQ(rec.txbuf[0], kBinary | kFrameCompressed);
    const uint32_t header = rec.txbuf[1] == kLength16 ? 4 : 2;
    EXPECT_TRUE(inflateBody(std::vector<uint8_t>(rec.txbuf + header, rec.txbuf + length), &out));
    return out;
  };

  const int first = screenFrame(plain.get());
  EXPECT_EQ(first, int(bmpFileSize()) + 4);
  EXPECT_EQ(plain->txbuf[0], kBinary);
  EXPECT_TRUE(payloadIsPicture(*plain, 4));
  const int firstPacked = screenFrame(packed.get());
  ASSERT_GT(firstPacked, 0);
  EXPECT_LT(firstPacked, first / 4);
  EXPECT_EQ(inflated(*packed, firstPacked), picture());

  struct Step {
    const char* what;
    int red;  // drawn at (5, 6) before both look; -1 draws nothing
    bool sent;
  };
  const Step steps[] = {
      {"nothing drawn", -1, false},   {"the same pixel drawn again", 0, false},
      {"a changed pixel", 200, true}, {"the changed pixel drawn again", 200, false},
      {"changed back", 0, true},
  };
  for (const Step& step : steps) {
    if (step.red >= 0) setPixel(uint8_t(step.red));
    const int plainLength = screenFrame(plain.get());
    const int packedLength = screenFrame(packed.get());
    EXPECT_EQ(plainLength > 0, step.sent) << step.what;
    EXPECT_EQ(packedLength > 0, step.sent) << step.what;
    if (plainLength > 0) {
      EXPECT_TRUE(payloadIsPicture(*plain, 4)) << step.what;
    }
    if (packedLength > 0) {
      EXPECT_EQ(inflated(*packed, packedLength), picture()) << step.what;
    }
  }
  // The picture changes and changes back while one connection looks in
  // between: the other, which missed it, holds the same picture and gets
  // nothing.
  setPixel(90);
  EXPECT_GT(screenFrame(plain.get()), 0);
  setPixel(0);
  EXPECT_GT(screenFrame(plain.get()), 0);
  EXPECT_EQ(screenFrame(packed.get()), 0);
  // A new connection always gets the picture.
  auto late = record();
  EXPECT_GT(screenFrame(late.get()), 0);
}

// Every kind of drawing reaches the shared snapshot whole: after each one the
// next message carries exactly the picture, so no byte was written outside
// the area the drawing noted. Shapes reach past the picture's edges, where
// the noted area is cut to the clip. The same drawing again changes nothing
// and leaves nothing for a viewer to take.
TEST(Screen, EveryKindOfDrawingReachesTheSnapshot) {
  ASSERT_EQ(loadBlankPicture(64, 48), kLoadOk);
  flagNew = 255;
  auto viewer = record();
  ASSERT_GT(screenFrame(viewer.get()), 0);
  struct Case {
    const char* what;
    void (*draw)(uint8_t red);
  };
  const Case cases[] = {
      {"pixel", [](uint8_t red) { setpixel(63, 47, red, 1, 2); }},
      {"line", [](uint8_t red) { line(-20, 50, 70, -3, red, 1, 2); }},
      {"steep line", [](uint8_t red) { line(3, -10, 9, 60, red, 1, 2); }},
      {"circle", [](uint8_t red) { circle(60, 5, 12, red, 1, 2); }},
      {"disc", [](uint8_t red) { circlefill(2, 40, 9, red, 1, 2); }},
      {"rectangle", [](uint8_t red) { rectangle(10, 10, 90, 30, red, 1, 2); }},
      {"filled rectangle", [](uint8_t red) { rectanglefill(30, 20, 40, 60, red, 1, 2); }},
      {"triangle", [](uint8_t red) { triangle(-5, 20, 30, 2, 70, 45, red, 1, 2); }},
      {"text", [](uint8_t red) { textout("Ag", 58, 40, red, 1, 2, 3, 4, 5, 255); }},
      {"glyph without background",
       [](uint8_t red) { outchar('W', -3, 42, red, 1, 2, 0, 0, 0, 0); }},
      {"button", [](uint8_t red) { buttonPOP(20, 30, 40, 16, "go", red, 1, 2, 9, 9, 9); }},
  };
  setfont(kFont8x8);
  uint8_t red = 10;
  for (const Case& c : cases) {
    red = uint8_t(red + 20);
    c.draw(red);
    const int length = screenFrame(viewer.get());
    ASSERT_GT(length, 0) << c.what;
    EXPECT_TRUE(payloadIsPicture(*viewer, 4)) << c.what;
    // Drawn again, it leaves every byte as it was: nothing pending, no look.
    c.draw(red);
    EXPECT_FALSE(bmpWritten.load()) << c.what << " drawn again";
    EXPECT_EQ(screenFrame(viewer.get()), 0) << c.what << " drawn again";
  }
}

// The control loop's question: has every plain viewer been sent what was
// drawn before a mark? Only once its message went out (or its look found
// nothing new); a change-stream viewer's look does not count.
TEST(Screen, PlainViewersHaveAMarkOnceSentOrFoundUnchanged) {
  ASSERT_EQ(loadBlankPicture(32, 32), kLoadOk);
  flagNew = 255;
  constexpr int kSlot = 2;
  auto plain = record();
  auto page = record();
  page->changesOn = 255;
  EXPECT_TRUE(plainViewersHave(screenMark())) << "nobody connected";
  plainViewerJoins(kSlot);
  const uint32_t first = screenMark();
  EXPECT_FALSE(plainViewersHave(first)) << "joined, sent nothing yet";
  ASSERT_GT(screenFrame(plain.get()), 0);
  EXPECT_FALSE(plainViewersHave(first)) << "built, not yet sent";
  plainViewerHas(kSlot, *plain);
  EXPECT_TRUE(plainViewersHave(first));

  setpixel(3, 3, 255, 0, 0);
  const uint32_t pressed = screenMark();
  EXPECT_FALSE(plainViewersHave(pressed));
  ASSERT_GT(screenFrame(page.get()), 0);
  EXPECT_FALSE(plainViewersHave(pressed)) << "only the page has looked";
  ASSERT_GT(screenFrame(plain.get()), 0);
  plainViewerHas(kSlot, *plain);
  EXPECT_TRUE(plainViewersHave(pressed));

  // Drawn again, unchanged: no new picture, so the plain viewer already
  // holds what the mark stands for, and its look finds nothing to send.
  setpixel(3, 3, 255, 0, 0);
  const uint32_t redrawn = screenMark();
  EXPECT_TRUE(plainViewersHave(redrawn));
  EXPECT_EQ(screenFrame(plain.get()), 0);
  plainViewerHas(kSlot, *plain);
  EXPECT_TRUE(plainViewersHave(redrawn));
  setpixel(3, 3, 0, 255, 0);  // changed: a mark it does not hold yet
  const uint32_t changed = screenMark();
  EXPECT_FALSE(plainViewersHave(changed));
  ASSERT_GT(screenFrame(plain.get()), 0);
  plainViewerHas(kSlot, *plain);
  EXPECT_TRUE(plainViewersHave(changed));
  plainViewerLeaves(kSlot);
  EXPECT_TRUE(plainViewersHave(screenMark() + 5)) << "nobody connected";
}
