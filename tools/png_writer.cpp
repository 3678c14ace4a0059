#include "tools/png_writer.h"

#include <cstdio>

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kStoredBlockMax = 65535;  // a stored deflate block holds at most this much
constexpr uint32_t kAdlerModulus = 65521;

void putBe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  putBe32(out, uint32_t(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBe32(out, pngCrc32(out.data() + typeAt, out.size() - typeAt));
}

uint32_t adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % kAdlerModulus;
    b = (b + a) % kAdlerModulus;
  }
  return (b << 16) | a;
}

// A zlib stream of stored blocks around raw.
std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
  size_t done = 0;
  do {
    const size_t n = raw.size() - done < kStoredBlockMax ? raw.size() - done : kStoredBlockMax;
    const bool last = done + n == raw.size();
    out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    out.push_back(uint8_t(n));
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(~n));
    out.push_back(uint8_t(~n >> 8));
    out.insert(out.end(), raw.begin() + done, raw.begin() + done + n);
    done += n;
  } while (done < raw.size());
  putBe32(out, adler32(raw));
  return out;
}

}  // namespace

uint32_t pngCrc32(const uint8_t* data, size_t size, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < size; i++) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgb) {
  if (rgb.size() != size_t(width) * height * 3) return false;
  std::vector<uint8_t> header;
  putBe32(header, width);
  putBe32(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace

  std::vector<uint8_t> raw;
  raw.reserve((size_t(width) * 3 + 1) * height);
  for (uint32_t y = 0; y < height; y++) {
    raw.push_back(0);  // filter type None
    const auto row = rgb.begin() + size_t(y) * width * 3;
    raw.insert(raw.end(), row, row + size_t(width) * 3);
  }

  std::vector<uint8_t> file(kSignature, kSignature + sizeof kSignature);
  putChunk(file, "IHDR", header);
  putChunk(file, "IDAT", storedZlib(raw));
  putChunk(file, "IEND", {});

  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
  return fclose(out) == 0 && written;
}
