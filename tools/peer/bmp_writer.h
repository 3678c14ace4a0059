// Builds BMP file images: the default picture, the photograph-like picture
// and the odd pictures the tests need (other sizes, info headers and depths,
// lying or truncated files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BmpLayout {
  int32_t width = 640;
  int32_t height = 480;
  uint16_t bitCount = 24;
  uint32_t infoSize = 40;     // 12, 40, 108, 124 or any other size
  uint32_t paletteBytes = 0;  // bytes between the info header and the pixels
};

// Colour of a pixel (x, y counted in stored rows) as 0xRRGGBB.
using PixelColour = uint32_t (*)(int32_t x, int32_t y);

// A complete file image; every pixel takes colour(x, y), written in the
// depth's byte order (blue first). colour may be null for all zero pixels.
std::vector<uint8_t> makeBmp(const BmpLayout& layout, PixelColour colour = nullptr);
// Row length in bytes for the layout, rounded up to a multiple of 4.
uint32_t bmpStride(const BmpLayout& layout);
// Little-endian field writers, for tests that make lying headers.
void putLe16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void putLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
// Writes bytes to path; true on success.
bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Colour (0xRRGGBB) of pixel (x, y), counted in stored rows, of a 24-bit BMP
// file image such as a screen message; kNoPixel when the file holds no such
// pixel (not 24-bit, or the point lies outside the picture or the bytes).
constexpr uint32_t kNoPixel = 0xFF000000;
uint32_t bmpPixel(const std::vector<uint8_t>& file, int32_t x, int32_t y);
// The calm background of the default picture.
uint32_t calmBackground(int32_t x, int32_t y);
// The photograph-like picture: a 24-bit BMP (40-byte info header) of a smooth
// colour gradient with a little sensor noise from a fixed seed, the same
// bytes on every machine. Like a photograph it barely compresses (about 86 %
// of its size at 640 x 480), where the calm background shrinks to a few KB.
std::vector<uint8_t> makePhotoPicture(int32_t width = 640, int32_t height = 480);
