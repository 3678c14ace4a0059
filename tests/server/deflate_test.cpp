// Compression of pictures and inflation of received frames: bodies that
// inflate back to the exact bytes, pictures that would not shrink, and the
// received frames that must end a connection.
#include "server/deflate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "graphics/framebuffer.h"
#include "graphics/shapes.h"
#include "server/extensions.h"
#include "server/frames.h"
#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr uint8_t kText = kFinalBit | kOpText;  // a whole text message

using Bytes = std::vector<uint8_t>;

Bytes pictureBytes() {
  return Bytes(BMP_DUMP, BMP_DUMP + bmpFileSize());
}

// A masked frame whose first byte is `first` and whose payload is `body`.
Bytes frameWith(uint8_t first, const Bytes& body) {
  Bytes frame = WsClient::maskedFrame(0x1, std::string(body.begin(), body.end()));
  frame[0] = first;
  return frame;
}

Bytes deflated(const std::string& text) {
  return deflateBody(Bytes(text.begin(), text.end()));
}

}  // namespace

TEST(Deflate, PicturesInflateBackExactlyOrGoAsTheyAre) {
  ASSERT_EQ(loadBlankPicture(640, 480), kLoadOk);
  BMP_rect_filled(100, 100, 300, 200, 200, 40, 40);
  const Bytes flat = pictureBytes();
  for (uint32_t i = bmpPixelOffset(); i < bmpFileSize(); ++i) BMP_DUMP[i] = uint8_t(i / 7);
  const Bytes gradient = pictureBytes();
  std::mt19937 generator(7);
  for (uint32_t i = bmpPixelOffset(); i < bmpFileSize(); ++i) BMP_DUMP[i] = uint8_t(generator());
  const Bytes noise = pictureBytes();

  static Bytes out(kFrameBufferSize);
  for (const Bytes* picture : {&flat, &gradient}) {
    const int length = deflatePicture(picture->data(), uint32_t(picture->size()), out.data(),
                                      uint32_t(out.size()));
    ASSERT_GT(length, 0);
    EXPECT_LT(length, int(picture->size()) / 4);
    Bytes back;
    ASSERT_TRUE(inflateBody(Bytes(out.begin(), out.begin() + length), &back));
    EXPECT_TRUE(back == *picture);
  }
  EXPECT_EQ(deflatePicture(noise.data(), uint32_t(noise.size()), out.data(), uint32_t(out.size())),
            kDeflateNotSmaller);
  // Too little room is the same as no gain, never an overrun.
  EXPECT_EQ(deflatePicture(flat.data(), uint32_t(flat.size()), out.data(), 16), kDeflateNotSmaller);
  EXPECT_LE(deflateArenaUsed(), kDeflateArenaSize);
}

TEST(Deflate, ReceivedFramesAreInflatedOrEndTheConnection) {
  auto record = std::make_unique<wssession>();
  memset(record.get(), 0, sizeof(wssession));
  const std::string report = "mouse_X: 12\r\nmouse_Y: 34\r\n";
  const Bytes good = deflated(report);
  Bytes truncated = good;
  truncated.resize(truncated.size() / 2);
  const Bytes garbage = {0xff, 0xfe, 0xfd, 0xfc, 0xfb};
  const Bytes largest = deflated(std::string(kMessageMax, 'a'));
  const Bytes tooLarge = deflated(std::string(kMessageMax + 1, 'a'));
  const std::string longest(kMessageMax, 'a');
  struct Case {
    const char* what;
    uint8_t deflateOn;
    uint8_t first;
    Bytes body;
    int result;            // wsplainFrame's result
    std::string expected;  // the payload read from an inflated frame
  };
  const Case cases[] = {
      {"plain frame", 0, kText, Bytes(report.begin(), report.end()), 0, ""},
      {"compressed report", kOfferAccepted, kText | kFrameCompressed, good, 1, report},
      {"largest message", kOfferAccepted, kText | kFrameCompressed, largest, 1, longest},
      {"compressed without agreement", 0, kText | kFrameCompressed, good, kFrameBadBits, ""},
      {"second reserved bit", kOfferAccepted, kText | kReserved2, good, kFrameBadBits, ""},
      {"third reserved bit", kOfferAccepted, kText | kReserved3, good, kFrameBadBits, ""},
      {"all reserved bits", kOfferAccepted, kText | kReservedBits, good, kFrameBadBits, ""},
      {"not deflate", kOfferAccepted, kText | kFrameCompressed, garbage, kFrameBadBody, ""},
      {"cut short", kOfferAccepted, kText | kFrameCompressed, truncated, kFrameBadBody, ""},
      {"inflates past the bound", kOfferAccepted, kText | kFrameCompressed, tooLarge,
       kFrameTooLarge, ""},
  };
  for (const Case& c : cases) {
    record->deflateOn = c.deflateOn;
    const Bytes frame = frameWith(c.first, c.body);
    uint8_t plain[kRxBufSize];
    const int length = wsplainFrame(record.get(), frame.data(), int(frame.size()), plain);
    if (c.result <= 0) {
      EXPECT_EQ(length, c.result) << c.what;
      continue;
    }
    ASSERT_GT(length, 0) << c.what;
    EXPECT_EQ(plain[0], kText) << c.what;
    EXPECT_EQ(wsframeLength(plain, length), length) << c.what;
    wsdecode(record.get(), plain, length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rdbuf)), c.expected) << c.what;
  }
}
