// The change stream's encoder and history through the screen message: each
// change message, applied to the picture a viewer held, gives the picture
// exactly; its bytes follow the changed pixels; a viewer a few versions
// behind gets the union, one further behind the whole picture; versions wrap
// from the largest to 1.
#include "server/changes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "graphics/draw.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "server/records.h"
#include "server/screen.h"
#include "support/test_support.h"
#include "tools/peer/change_viewer.h"

namespace {

uint32_t le32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (uint32_t(at[3]) << 24);
}

// Sensor-noise-like colours: nothing repeats from one pixel to the next.
uint32_t noise(int32_t x, int32_t y) {
  uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
  h ^= h >> 13;
  return (h * 0x5bd1e995u) & 0xFFFFFF;
}

std::unique_ptr<wssession> viewer() {
  auto made = std::make_unique<wssession>();
  memset(made.get(), 0, sizeof(wssession));
  made->changesOn = 255;
  return made;
}

// The payload of the message screenFrame put in txbuf (plain frames only).
std::vector<uint8_t> payload(const wssession& rec, int length) {
  const uint32_t header = rec.txbuf[1] == 127 ? 10 : rec.txbuf[1] == 126 ? 4 : 2;
  return std::vector<uint8_t>(rec.txbuf + header, rec.txbuf + length);
}

// What a viewer holding `held` does with a message (tools/peer's viewer,
// checked separately by the page's decoder tests), and the encoding most of
// the message's spans took.
struct Applied {
  bool whole = false;
  int mostly = -1;  // kSpanNew, kSpanXor or kSpanRepeat
};
Applied applyMessage(std::vector<uint8_t>* held, const std::vector<uint8_t>& message) {
  Applied result;
  result.whole = message.size() >= 2 && message[0] == 'B' && message[1] == 'M';
  EXPECT_TRUE(applyStreamMessage(held, message));
  if (result.whole) return result;
  int counts[3] = {};
  size_t at = kChangeHeaderSize;
  for (uint32_t i = le32(&message[14]); i > 0 && at + kSpanHeaderSize <= message.size(); --i) {
    const uint8_t encoding = message[at + 8];
    if (encoding <= kSpanRepeat) counts[encoding]++;
    at += kSpanHeaderSize + (encoding == kSpanRepeat ? 0 : le32(&message[at + 4]));
  }
  for (int e = 0; e < 3; ++e) {
    if (result.mostly < 0 || counts[e] > counts[result.mostly]) result.mostly = e;
  }
  return result;
}

// Numbers the next picture version `last` + 1, so a test's versions can run
// across the wrap from the largest back to 1.
void versionsContinueFrom(uint32_t last) {
  pthread_mutex_lock(&screenMutex);
  pictureStream.version = last;
  pthread_mutex_unlock(&screenMutex);
}

std::vector<uint8_t> picture() {
  return std::vector<uint8_t>(BMP_DUMP, BMP_DUMP + bmpFileSize());
}

// Every byte of the drawing area shifted by one in its lowest bit: a change
// whose XOR repeats and whose new bytes do not.
void shiftColours() {
  FrameLock lock;
  for (uint32_t y = 110; y < 130; ++y) {
    for (uint32_t x = 150; x < 190; ++x) {
      uint8_t* p = bmpPixelAddress(x, y);
      for (uint32_t i = 0; i < bmppar.bytesPerPixel; ++i) p[i] ^= 1;
    }
  }
  bmpNoteWritten(150, 110, 40, 20);
}

}  // namespace

TEST(Changes, MessagesCarryOnlyTheChangedBytesAndApplyExactly) {
  for (const uint16_t bits : {24, 16, 8}) {
    BmpLayout layout;
    layout.width = 200;
    layout.height = 150;
    layout.bitCount = bits;
    layout.paletteBytes = bits == 8 ? 1024 : 0;
    ASSERT_EQ(loadPicture(makeBmp(layout, noise)), kLoadOk);
    flagNew = 255;
    // The whole picture is the largest version but one; the steps wrap.
    versionsContinueFrom(UINT32_MAX - 2);
    auto rec = viewer();
    std::vector<uint8_t> held;
    int length = screenFrame(rec.get());
    ASSERT_TRUE(applyMessage(&held, payload(*rec, length)).whole);
    uint32_t heldVersion = UINT32_MAX - 1;

    struct Step {
      const char* what;
      void (*draw)();
      int most;     // the most message bytes allowed
      int mostly;   // the encoding most spans take
      uint32_t to;  // the version it brings the viewer to
    };
    const Step steps[] = {
        {"circle outline", [] { circle(100, 75, 40, 255, 0, 0); }, 6000, kSpanRepeat, UINT32_MAX},
        {"filled rectangle", [] { rectanglefill(10, 10, 90, 60, 0, 0, 255); }, 81 * 51, kSpanRepeat,
         1},
        {"colours shifted", shiftColours, 40 * 20 * 3 + 400, kSpanXor, 2},
        {"one pixel", [] { setpixel(3, 4, 1, 2, 3); }, 40, kSpanNew, 3},
    };
    for (const Step& step : steps) {
      step.draw();
      length = screenFrame(rec.get());
      ASSERT_GT(length, 0) << step.what << " " << bits;
      const std::vector<uint8_t> message = payload(*rec, length);
      EXPECT_LE(int(message.size()), step.most) << step.what << " " << bits;
      ASSERT_GE(message.size(), kChangeHeaderSize) << step.what << " " << bits;
      EXPECT_EQ(le32(&message[2]), heldVersion) << step.what << " " << bits;
      EXPECT_EQ(le32(&message[6]), step.to) << step.what << " " << bits;
      heldVersion = step.to;
      const Applied applied = applyMessage(&held, message);
      EXPECT_FALSE(applied.whole) << step.what << " " << bits;
      EXPECT_EQ(applied.mostly, step.mostly) << step.what << " " << bits;
      EXPECT_EQ(held, picture()) << step.what << " " << bits;
    }
    // Drawing what is already there changes nothing and sends nothing.
    setpixel(3, 4, 1, 2, 3);
    EXPECT_EQ(screenFrame(rec.get()), 0) << bits;
  }
}

TEST(Changes, ViewerBehindGetsTheUnionOrTheWholePicture) {
  BmpLayout layout;
  layout.width = 120;
  layout.height = 90;
  ASSERT_EQ(loadPicture(makeBmp(layout, noise)), kLoadOk);
  flagNew = 255;
  // The first picture is the largest version: the union reaches across the wrap.
  versionsContinueFrom(UINT32_MAX - 1);
  auto leader = viewer();
  auto behind = viewer();
  auto far = viewer();
  std::vector<uint8_t> heldBehind;
  std::vector<uint8_t> heldFar;
  int length = screenFrame(behind.get());
  applyMessage(&heldBehind, payload(*behind, length));
  length = screenFrame(far.get());
  applyMessage(&heldFar, payload(*far, length));

  // Three versions pass while `behind` looks away: one message brings it up.
  for (int k = 0; k < 3; ++k) {
    circle(30 + 20 * k, 40, 10, 0, 255, 0);
    ASSERT_GT(screenFrame(leader.get()), 0);
  }
  length = screenFrame(behind.get());
  const std::vector<uint8_t> message = payload(*behind, length);
  EXPECT_FALSE(applyMessage(&heldBehind, message).whole);
  EXPECT_LT(message.size(), 3000u);
  EXPECT_EQ(heldBehind, picture());

  // More versions than the history holds: the whole picture again.
  for (int k = 0; k < kHistoryVersions + 1; ++k) {
    setpixel(k, 5, 255, 255, uint8_t(k));
    ASSERT_GT(screenFrame(leader.get()), 0);
  }
  length = screenFrame(far.get());
  EXPECT_TRUE(applyMessage(&heldFar, payload(*far, length)).whole);
  EXPECT_EQ(heldFar, picture());
}
