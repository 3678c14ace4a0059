// The picture as PNG: every depth it converts decodes back to the pixels the
// BMP holds (odd widths, palettes, top row first), every chunk's check value
// holds, and what it cannot make is said, never written past its room.
#include "server/picture_png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "graphics/framebuffer.h"
#include "support/test_support.h"
#include "tools/peer/bmp_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t be32(const Bytes& bytes, size_t at) {
  return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
         bytes[at + 3];
}

struct Decoded {
  uint32_t width = 0, height = 0;
  Bytes rgb;  // top row first
};

// A strict reader of what the server writes: signature, IHDR (8-bit RGB),
// one IDAT, IEND, each chunk's CRC checked; rows unfiltered (None or Up).
bool decodePng(const Bytes& png, Decoded* out) {
  static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || memcmp(png.data(), kSignature, 8) != 0) return false;
  Bytes packed;
  size_t at = 8;
  bool ended = false;
  while (at + 12 <= png.size() && !ended) {
    const uint32_t length = be32(png, at);
    if (at + 12 + length > png.size()) return false;
    const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
    const uint32_t crc = uint32_t(crc32(0, png.data() + at + 4, uInt(4 + length)));
    if (crc != be32(png, at + 8 + length)) return false;
    const uint8_t* data = png.data() + at + 8;
    if (type == "IHDR") {
      out->width = be32(png, at + 8);
      out->height = be32(png, at + 12);
      if (length != 13 || data[8] != 8 || data[9] != 2 || data[12] != 0) return false;
    } else if (type == "IDAT") {
      packed.insert(packed.end(), data, data + length);
    } else if (type == "IEND") {
      ended = true;
    }
    at += 12 + length;
  }
  if (!ended || at != png.size()) return false;
  const size_t row = 1 + size_t(out->width) * 3;
  Bytes raw(row * out->height);
  uLongf rawLength = uLongf(raw.size());
  if (uncompress(raw.data(), &rawLength, packed.data(), uLong(packed.size())) != Z_OK ||
      rawLength != raw.size()) {
    return false;
  }
  out->rgb.assign(size_t(out->width) * 3 * out->height, 0);
  for (uint32_t y = 0; y < out->height; ++y) {
    const uint8_t filter = raw[y * row];
    if (filter != 0 && filter != 2) return false;
    for (size_t k = 0; k + 1 < row; ++k) {
      const uint8_t above = filter == 2 && y > 0 ? out->rgb[(y - 1) * (row - 1) + k] : 0;
      out->rgb[y * (row - 1) + k] = uint8_t(raw[y * row + 1 + k] + above);
    }
  }
  return true;
}

uint32_t pattern(int32_t x, int32_t y) {
  return uint32_t(x * 37 + y * 11) << 16 | uint32_t(x * 5 + 200 * y) << 8 | uint32_t(x ^ y * 3);
}

// The PNG of the loaded picture, or its result when there is none.
int pngOfPicture(Bytes* png, size_t room = kFrameBufferSize) {
  png->assign(room, 0xEE);
  FrameLock lock;
  const int length = pictureToPng(0, png->data(), int(png->size()));
  if (length > 0) png->resize(size_t(length));
  return length;
}

// Every pixel of the decoded PNG against the picture's colour, read from the
// frame buffer (BMP rows bottom first).
void expectPixels(const Decoded& decoded, int32_t width, int32_t height) {
  ASSERT_EQ(decoded.width, uint32_t(width));
  ASSERT_EQ(decoded.height, uint32_t(height));
  FrameLock lock;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t r = 0, g = 0, b = 0;
      BMP_GetPixel(x, y, &r, &g, &b);
      const size_t at = (size_t(height - 1 - y) * size_t(width) + size_t(x)) * 3;
      ASSERT_EQ(decoded.rgb[at], r) << x << "," << y;
      ASSERT_EQ(decoded.rgb[at + 1], g) << x << "," << y;
      ASSERT_EQ(decoded.rgb[at + 2], b) << x << "," << y;
    }
  }
}

}  // namespace

TEST(PicturePng, EveryConvertedDepthDecodesToThePicturesPixels) {
  struct Case {
    const char* what;
    BmpLayout layout;
  };
  const Case cases[] = {
      {"24 bits, odd width", {5, 3, 24, 40, 0}},
      {"24 bits, core header", {7, 4, 24, 12, 0}},
      {"32 bits", {4, 2, 32, 40, 0}},
      {"24 bits, 640 x 480", {640, 480, 24, 40, 0}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(loadPicture(makeBmp(c.layout, pattern)), kLoadOk) << c.what;
    Bytes png;
    ASSERT_GT(pngOfPicture(&png), 0) << c.what;
    Decoded decoded;
    ASSERT_TRUE(decodePng(png, &decoded)) << c.what;
    expectPixels(decoded, c.layout.width, c.layout.height);
  }
}

TEST(PicturePng, EightBitPicturesTakeTheirPalette) {
  BmpLayout layout{3, 2, 8, 40, 4 * 256};
  Bytes bmp = makeBmp(layout);
  const uint32_t pixels = 14 + 40 + 4 * 256;
  // Palette entry i: blue i, green 2i, red 255 - i; pixels index 0..5, one
  // past the palette's used entries (clrUsed 5) reads as black.
  for (uint32_t i = 0; i < 256; ++i) putLe32(bmp, 54 + 4 * i, i | (2 * i) << 8 | (255 - i) << 16);
  putLe32(bmp, 46, 5);
  for (uint32_t i = 0; i < 6; ++i) bmp[pixels + (i / 3) * 4 + i % 3] = uint8_t(i);
  ASSERT_EQ(loadPicture(bmp), kLoadOk);
  Bytes png;
  ASSERT_GT(pngOfPicture(&png), 0);
  Decoded decoded;
  ASSERT_TRUE(decodePng(png, &decoded));
  ASSERT_EQ(decoded.width, 3u);
  // Top row first: the file's second row (indices 3, 4, 5).
  const Bytes expected = {252, 6, 3, 251, 8, 4, 0, 0, 0, 255, 0, 0, 254, 2, 1, 253, 4, 2};
  EXPECT_EQ(decoded.rgb, expected);
}

TEST(PicturePng, WhatItCannotMakeIsSaidAndNothingPastTheRoomIsWritten) {
  ASSERT_EQ(loadPicture(makeBmp({8, 8, 16, 40, 0})), kLoadOk);
  Bytes png;
  EXPECT_EQ(pngOfPicture(&png), kPngUnsupported);

  ASSERT_EQ(loadPicture(makePhotoPicture(64, 48)), kLoadOk);
  for (const size_t room : {size_t(0), size_t(40), size_t(2000)}) {
    Bytes out(room + 64, 0xEE);
    {
      FrameLock lock;
      EXPECT_EQ(pictureToPng(0, out.data(), int(room)), kPngTooLarge) << room;
    }
    for (size_t k = room; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << room;
  }

  Bytes refused(20, 0);
  EXPECT_LT(loadPicture(refused), 0);
  EXPECT_EQ(pngOfPicture(&png), kPngNoPicture);
}
