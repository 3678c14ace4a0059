// Loading the picture file: the report, each header version, the geometry,
// and every file that is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "graphics/framebuffer.h"
#include "support/test_support.h"

namespace {

// Loads the bytes and returns what the loader printed.
std::string loadAndReport(const std::vector<uint8_t>& bytes, int* result) {
  testing::internal::CaptureStdout();
  *result = loadPicture(bytes);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

BmpLayout layoutOf(int32_t width, int32_t height, uint16_t bits, uint32_t infoSize) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bitCount = bits;
  layout.infoSize = infoSize;
  return layout;
}

bool frameBufferIsEmpty() {
  for (uint8_t byte : BMP_DUMP) {
    if (byte != 0) return false;
  }
  return bmppar.bytesPerPixel == 0 && bmppar.stride == 0 && x2_clip == 0 && y2_clip == 0 &&
         bhfo.width == 0 && bmpFileSize() == 0;
}

}  // namespace

TEST(Loader, ReportForThe640x480PictureIsExact) {
  int result = 0;
  const std::string report = loadAndReport(makeBmp(BmpLayout{}), &result);
  const std::string path = tempPath("picture.bmp");
  const std::string rule(81, '-');
  EXPECT_EQ(result, 1);
  EXPECT_EQ(report, "BMP filename:  " + path +
                        "\n"
                        "Size Struct info 40 dec   28 hex\n"
                        "Version \"3\"\n"
                        "--- step x 3\r\n"
                        "--- step y 1920\r\n" +
                        rule +
                        "\nType         : 4d42\nSize          : 921654 bytes\n"
                        "Start addr: 36 hex\n" +
                        rule + "\nWidht :  640\nHaight : 480\nBit in Pixel(color) 24\n");
}

TEST(Loader, EveryHeaderVersionGivesItsLineAndGeometry) {
  struct Case {
    uint32_t infoSize;
    const char* line;
  };
  for (const Case& c : {Case{12, "Version \"Core\"\n"}, Case{40, "Version \"3\"\n"},
                        Case{108, "Version \"4\"\n"}, Case{124, "Version \"5\"\n"}}) {
    int result = 0;
    const std::string report = loadAndReport(makeBmp(layoutOf(100, 50, 24, c.infoSize)), &result);
    EXPECT_EQ(result, 1) << c.infoSize;
    EXPECT_NE(report.find(c.line), std::string::npos) << report;
    EXPECT_EQ(bhfo.width, 100);
    EXPECT_EQ(bhfo.height, 50);
    EXPECT_EQ(bhfo.bitCount, 24);
    EXPECT_EQ(bhfo.planes, c.infoSize == 12 ? 0 : 1);
    EXPECT_EQ(bmppar.stride, 300u);
    EXPECT_EQ(x2_clip, 100);
    EXPECT_EQ(y2_clip, 50);
    EXPECT_EQ(memcmp(bhfor, BMP_DUMP + 14, c.infoSize), 0) << "raw info header kept";
  }
}

TEST(Loader, StrideIsRoundedUpToFourBytes) {
  int result = 0;
  const std::string report = loadAndReport(makeBmp(layoutOf(630, 10, 24, 40)), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(bmppar.stride, 1892u);
  EXPECT_NE(report.find("--- step y 1892\r\n"), std::string::npos);
  // The last pixel of a row lies just before the padding.
  EXPECT_EQ(BMP_SetPixel(629, 9, 1, 2, 3), 0);
  EXPECT_EQ(BMP_DUMP[bmpPixelOffset() + 9 * 1892 + 629 * 3 + 2], 1);
}

TEST(Loader, DepthsSetBytesPerPixelAndWriteTheirBytes) {
  for (uint16_t bits : {8, 16, 32}) {
    int result = 0;
    BmpLayout layout = layoutOf(8, 4, bits, 40);
    layout.paletteBytes = bits == 8 ? 1024 : 0;
    loadAndReport(makeBmp(layout), &result);
    ASSERT_EQ(result, 1) << bits;
    ASSERT_EQ(bmppar.bytesPerPixel, bits / 8u);
    EXPECT_EQ(BMP_SetPixel(1, 1, 0x30, 0x20, 0x10), 0);
    const uint8_t* p = BMP_DUMP + bmpPixelOffset() + bmppar.stride + bits / 8;
    EXPECT_EQ(p[0], 0x10) << bits;  // blue first
    if (bits >= 16) {
      EXPECT_EQ(p[1], 0x20);
    }
    if (bits >= 32) {
      EXPECT_EQ(p[2], 0x30);
      EXPECT_EQ(p[3], 0xFF);  // the fourth byte is opaque
    }
    EXPECT_EQ(p[bits / 8], 0) << "next pixel untouched";
  }
}

TEST(Loader, ColourMasksAreNoCompression) {
  for (uint16_t bits : {16, 32}) {
    for (uint32_t masks : {3u, 6u}) {
      std::vector<uint8_t> bytes = makeBmp(layoutOf(8, 4, bits, 124));
      putLe32(bytes, 30, masks);
      int result = 0;
      loadAndReport(bytes, &result);
      EXPECT_EQ(result, 1) << bits << " bits, compression " << masks;
      EXPECT_EQ(bmppar.bytesPerPixel, bits / 8u);
    }
  }
}

TEST(Loader, UnknownInfoHeaderSizeLoadsWithoutGeometry) {
  int result = 0;
  const std::vector<uint8_t> bytes = makeBmp(layoutOf(64, 64, 24, 56));
  const std::string report = loadAndReport(bytes, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(report.find("Version"), std::string::npos);
  EXPECT_NE(report.find("Size Struct info 56 dec   38 hex\n"), std::string::npos);
  EXPECT_EQ(bmppar.stride, 0u);
  EXPECT_EQ(BMP_SetPixel(0, 0, 1, 1, 1), -1);
  // The file is still held whole, so it streams unchanged.
  EXPECT_EQ(bmpFileSize(), bytes.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), BMP_DUMP));
}

TEST(Loader, RefusedFilesLeaveNothingBehind) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
  };
  std::vector<Case> cases;
  const std::vector<uint8_t> good = makeBmp(layoutOf(40, 30, 24, 40));
  cases.push_back({"empty", {}, kLoadCannotRead});
  cases.push_back(
      {"ten bytes", std::vector<uint8_t>(good.begin(), good.begin() + 10), kLoadCannotRead});
  {
    std::vector<uint8_t> big = good;
    putLe32(big, 2, kFrameBufferSize + 1);
    cases.push_back({"size field over 2 MiB", big, kLoadBadFileSize});
  }
  {
    std::vector<uint8_t> small = good;
    putLe32(small, 2, 40);
    cases.push_back({"size field smaller than headers", small, kLoadBadFileSize});
  }
  {
    std::vector<uint8_t> longInfo = good;
    putLe32(longInfo, 14, 133);
    cases.push_back({"info header of 133 bytes", longInfo, kLoadBadInfoSize});
  }
  {
    std::vector<uint8_t> shortInfo = good;
    putLe32(shortInfo, 14, 11);
    cases.push_back({"info header of 11 bytes", shortInfo, kLoadBadInfoSize});
  }
  {
    std::vector<uint8_t> huge = good;
    putLe32(huge, 14, 0xFFFFFFFF);
    cases.push_back({"info header size 2^32-1", huge, kLoadBadInfoSize});
  }
  cases.push_back({"negative width", makeBmp(layoutOf(-40, 30, 24, 40)), kLoadBadDimensions});
  cases.push_back({"top-down picture", makeBmp(layoutOf(40, -30, 24, 40)), kLoadBadDimensions});
  {
    std::vector<uint8_t> tall = good;
    putLe32(tall, 22, 31);
    cases.push_back({"one row more than the file holds", tall, kLoadPixelsOutside});
  }
  {
    std::vector<uint8_t> wide = good;
    putLe32(wide, 18, 0x7FFFFFFF);
    putLe16(wide, 28, 32);
    cases.push_back({"width that overflows 32 bits", wide, kLoadPixelsOutside});
  }
  {
    std::vector<uint8_t> farOffset = good;
    putLe32(farOffset, 10, 0xFFFFFF00);
    cases.push_back({"pixel offset past the end", farOffset, kLoadPixelsOutside});
  }
  for (uint16_t bits : {0, 1, 2, 4, 12, 48, 64}) {
    BmpLayout layout = layoutOf(40, 30, bits, 40);
    layout.paletteBytes = bits > 0 && bits < 8 ? 4u << bits : 0;
    cases.push_back({"depth the drawing cannot serve", makeBmp(layout), kLoadBadDepth});
  }
  cases.push_back({"one-bit Core picture", makeBmp(layoutOf(40, 30, 1, 12)), kLoadBadDepth});
  cases.push_back({"zero width", makeBmp(layoutOf(0, 30, 24, 40)), kLoadBadDimensions});
  cases.push_back({"zero height", makeBmp(layoutOf(40, 0, 24, 108)), kLoadBadDimensions});
  struct Packing {
    uint16_t bits;
    uint32_t compression;
  };
  // Run-length 8 and 4, masks on a depth without them, embedded JPEG and PNG.
  for (Packing p : {Packing{8, 1}, Packing{8, 2}, Packing{24, 3}, Packing{8, 6}, Packing{24, 4},
                    Packing{24, 5}, Packing{32, 7}}) {
    BmpLayout layout = layoutOf(40, 30, p.bits, 40);
    layout.paletteBytes = p.bits == 8 ? 1024 : 0;
    std::vector<uint8_t> packed = makeBmp(layout);
    putLe32(packed, 30, p.compression);
    cases.push_back({"compressed pixels", packed, kLoadCompressed});
  }
  {
    std::vector<uint8_t> truncated = good;
    truncated.resize(good.size() - 1);
    cases.push_back({"file shorter than its size field", truncated, kLoadCannotRead});
  }
  for (const Case& c : cases) {
    ASSERT_EQ(loadBlankPicture(16, 16), 1);  // something to clear
    int result = 0;
    const std::string report = loadAndReport(c.bytes, &result);
    EXPECT_EQ(result, c.result) << c.what << "\n" << report;
    EXPECT_NE(report.find("Picture refused: "), std::string::npos) << c.what << "\n" << report;
    EXPECT_TRUE(frameBufferIsEmpty()) << c.what;
    EXPECT_EQ(BMP_SetPixel(0, 0, 1, 1, 1), -1) << c.what;
  }
}

TEST(Loader, MissingFileIsRefused) {
  testing::internal::CaptureStdout();
  const int result = dumpBMPinit(tempPath("no-such-file.bmp").c_str());
  fflush(stdout);
  const std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, kLoadCannotOpen);
  EXPECT_NE(report.find("Picture refused: the file cannot be opened.\n"), std::string::npos);
  EXPECT_TRUE(frameBufferIsEmpty());
}
