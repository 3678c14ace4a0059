#include "tools/peer/bmp_writer.h"

#include <cstdio>

void putLe16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes[offset] = uint8_t(value);
  bytes[offset + 1] = uint8_t(value >> 8);
}

void putLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  putLe16(bytes, offset, uint16_t(value));
  putLe16(bytes, offset + 2, uint16_t(value >> 16));
}

uint32_t bmpStride(const BmpLayout& layout) {
  const uint32_t rowBits =
      uint32_t(layout.width < 0 ? -layout.width : layout.width) * layout.bitCount;
  return ((rowBits + 31) / 32) * 4;
}

std::vector<uint8_t> makeBmp(const BmpLayout& layout, PixelColour colour) {
  const uint32_t stride = bmpStride(layout);
  const uint32_t rows = uint32_t(layout.height < 0 ? -layout.height : layout.height);
  const uint32_t offset = 14 + layout.infoSize + layout.paletteBytes;
  const uint32_t size = offset + stride * rows;
  std::vector<uint8_t> bytes(size, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  putLe32(bytes, 2, size);
  putLe32(bytes, 10, offset);
  putLe32(bytes, 14, layout.infoSize);
  if (layout.infoSize == 12) {
    putLe16(bytes, 18, uint16_t(layout.width));
    putLe16(bytes, 20, uint16_t(layout.height));
    putLe16(bytes, 22, 1);
    putLe16(bytes, 24, layout.bitCount);
  } else if (layout.infoSize >= 40) {
    putLe32(bytes, 18, uint32_t(layout.width));
    putLe32(bytes, 22, uint32_t(layout.height));
    putLe16(bytes, 26, 1);
    putLe16(bytes, 28, layout.bitCount);
    putLe32(bytes, 34, stride * rows);
    putLe32(bytes, 38, 2835);  // 72 dpi
    putLe32(bytes, 42, 2835);
  }
  const uint32_t bytesPerPixel = layout.bitCount / 8;
  if (!colour || bytesPerPixel == 0) return bytes;
  for (uint32_t y = 0; y < rows; y++) {
    for (uint32_t x = 0; x < uint32_t(layout.width < 0 ? -layout.width : layout.width); x++) {
      const uint32_t rgb = colour(int32_t(x), int32_t(y));
      const uint8_t pixel[4] = {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 255};
      for (uint32_t i = 0; i < bytesPerPixel && i < 4; i++) {
        bytes[offset + y * stride + x * bytesPerPixel + i] = pixel[i];
      }
    }
  }
  return bytes;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

uint32_t bmpPixel(const std::vector<uint8_t>& file, int32_t x, int32_t y) {
  if (file.size() < 54 || file[28] != 24) return kNoPixel;
  const auto le32 = [&file](size_t at) {
    return file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) | (uint32_t(file[at + 3]) << 24);
  };
  const uint32_t offset = le32(10), width = le32(18), height = le32(22);
  if (x < 0 || y < 0 || uint32_t(x) >= width || uint32_t(y) >= height) return kNoPixel;
  const uint64_t stride = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
  const uint64_t at = offset + uint64_t(y) * stride + uint64_t(x) * 3;
  if (at + 3 > file.size()) return kNoPixel;
  return (uint32_t(file[at + 2]) << 16) | (uint32_t(file[at + 1]) << 8) | file[at];
}

uint32_t calmBackground(int32_t x, int32_t y) {
  // A soft slate-blue gradient, darker at the bottom, with a faint 40-pixel grid.
  const uint32_t shade = uint32_t(y) * 40 / 480;
  uint32_t r = 40 + shade, g = 52 + shade, b = 70 + shade;
  if (x % 40 == 0 || y % 40 == 0) {
    r += 8;
    g += 8;
    b += 8;
  }
  return (r << 16) | (g << 8) | b;
}

namespace {

// Marsaglia's 32-bit xorshift: unsigned 32-bit steps only, so the noise is
// the same on every compiler and machine.
uint32_t nextRandom(uint32_t* state) {
  uint32_t s = *state;
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  *state = s;
  return s;
}

constexpr uint32_t kNoiseSeed = 0x2545F491;
// Noise of -kNoiseReach .. kNoiseReach per colour byte, the sum of two even
// draws, so small values are the common ones, as from a camera's sensor.
constexpr int32_t kNoiseReach = 11;

uint8_t clampByte(int32_t value) {
  return uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

std::vector<uint8_t> makePhotoPicture(int32_t width, int32_t height) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  std::vector<uint8_t> bytes = makeBmp(layout);
  const uint32_t stride = bmpStride(layout);
  const uint32_t offset = 14 + layout.infoSize;
  // Red grows to the right, green upwards, blue falls along the diagonal.
  const int32_t spanX = width > 1 ? width - 1 : 1;
  const int32_t spanY = height > 1 ? height - 1 : 1;
  const int32_t spanXY = spanX + spanY;
  uint32_t state = kNoiseSeed;
  for (int32_t y = 0; y < height; y++) {
    for (int32_t x = 0; x < width; x++) {
      const int32_t colour[3] = {210 - 150 * (x + y) / spanXY, 60 + 140 * y / spanY,
                                 40 + 180 * x / spanX};  // blue, green, red
      uint8_t* pixel = &bytes[offset + uint32_t(y) * stride + uint32_t(x) * 3];
      for (int i = 0; i < 3; i++) {
        const uint32_t draw = nextRandom(&state);
        const int32_t noise = int32_t((draw >> 8) % (kNoiseReach + 1)) +
                              int32_t((draw >> 20) % (kNoiseReach + 1)) - kNoiseReach;
        pixel[i] = clampByte(colour[i] + noise);
      }
    }
  }
  return bytes;
}
