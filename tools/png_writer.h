// Writes 8-bit RGB pictures as PNG files without a compression library: the
// image data goes out in stored (uncompressed) deflate blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgb holds width * height pixels of three bytes, red first, top row first.
// True when the file was written.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgb);

// CRC-32 as PNG chunks use it (polynomial 0xEDB88320, reflected).
uint32_t pngCrc32(const uint8_t* data, size_t size, uint32_t crc = 0);
