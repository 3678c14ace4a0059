// Loading "work.bmp" into the frame buffer and the start-up report.
//
// The file is read the way it lies on disk. Anything that would make a read
// or write leave BMP_DUMP or bhfor is refused: the report lines that could be
// filled are printed, then one line naming the reason, and the loader returns
// a distinct negative value with every piece of frame-buffer state left zero,
// so nothing is streamed and every drawing call is a harmless no-op.
#include <cstdio>
#include <cstring>

#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"

namespace {

constexpr uint32_t kInfoHeaderMin = 12;
constexpr uint32_t kCoreHeader = 12;
constexpr uint32_t kHeaderV3 = 40;
constexpr uint32_t kHeaderV4 = 108;
constexpr uint32_t kHeaderV5 = 124;
// The compression field of a 40-byte or longer info header: plain pixels, or
// plain pixels with colour masks (16 and 32 bits), which drawing serves alike.
constexpr uint32_t kPlainPixels = 0;
constexpr uint32_t kColourMasks = 3;
constexpr uint32_t kColourMasksWithAlpha = 6;
constexpr const char* kRule =
    "---------------------------------------------------------------------------------\n";

uint16_t le16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
  return le16(p) | (uint32_t(le16(p + 2)) << 16);
}

// The end of the bytes any load so far has put into BMP_DUMP: the clear
// zeroes those alone, so a picture smaller than the buffer leaves the rest
// of it untouched and out of the process's resident memory.
uint32_t loadedEnd = 0;

void clearFrameBuffer() {
  memset(BMP_DUMP, 0, loadedEnd);
  loadedEnd = 0;
  memset(&bhfi, 0, sizeof bhfi);
  memset(bhfor, 0, sizeof bhfor);
  memset(&bhfo, 0, sizeof bhfo);
  memset(&bmppar, 0, sizeof bmppar);
  x1_clip = y1_clip = x2_clip = y2_clip = 0;
  bmpNoteWhole();
}

int refuse(FILE* file, int result, const char* reason) {
  if (file) fclose(file);
  clearFrameBuffer();
  printf("Picture refused: %s.\n", reason);
  return result;
}

// Reads count bytes at offset; true when all of them arrived.
bool readAt(FILE* file, long offset, void* dst, size_t count) {
  if (fseek(file, offset, SEEK_SET) != 0) return false;
  return fread(dst, 1, count, file) == count;
}

const char* versionLine(uint32_t infoSize) {
  switch (infoSize) {
    case kCoreHeader: return "Version \"Core\"\n";
    case kHeaderV3: return "Version \"3\"\n";
    case kHeaderV4: return "Version \"4\"\n";
    case kHeaderV5: return "Version \"5\"\n";
    default: return nullptr;
  }
}

// Fills width, height, planes and bit count from the raw info header.
void normalise(uint32_t infoSize) {
  if (infoSize == kCoreHeader) {
    bhfo.width = le16(bhfor + 4);
    bhfo.height = le16(bhfor + 6);
    bhfo.planes = 0;
    bhfo.bitCount = le16(bhfor + 10);
  } else {
    bhfo.width = int32_t(le32(bhfor + 4));
    bhfo.height = int32_t(le32(bhfor + 8));
    bhfo.planes = le16(bhfor + 12);
    bhfo.bitCount = le16(bhfor + 14);
  }
}

// The drawing writes whole bytes: one palette index, or blue and green (16),
// blue, green and red (24), and a fourth opaque byte (32).
bool depthIsDrawn(uint16_t bitCount) {
  return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

bool pixelsArePlain(uint32_t infoSize, uint16_t bitCount) {
  if (infoSize == kCoreHeader) return true;  // that header has no compression field
  const uint32_t compression = le32(bhfor + 16);
  if (compression == kPlainPixels) return true;
  return (compression == kColourMasks || compression == kColourMasksWithAlpha) &&
         (bitCount == 16 || bitCount == 32);
}

}  // namespace

int BMP_FileAnalise(const char* fileName) {
  printf("BMP filename:  %s\n", fileName);
  clearFrameBuffer();

  FILE* file = fopen(fileName, "rb");
  if (!file) return refuse(nullptr, kLoadCannotOpen, "the file cannot be opened");
  if (!readAt(file, 0, &bhfi, sizeof bhfi) || !readAt(file, kFileHeaderSize, bhfor, 4)) {
    return refuse(file, kLoadCannotRead, "the file is shorter than its headers");
  }
  const uint32_t infoSize = le32(bhfor);
  const uint32_t fileSize = bmpFileSize();
  if (infoSize < kInfoHeaderMin || infoSize > kInfoHeaderMax) {
    printf("Size Struct info %u dec   %x hex\n", infoSize, infoSize);
    return refuse(file, kLoadBadInfoSize, "the info header is not 12 to 132 bytes long");
  }
  if (!readAt(file, kFileHeaderSize, bhfor, infoSize)) {
    return refuse(file, kLoadCannotRead, "the file is shorter than its info header");
  }
  if (fileSize > kFrameBufferSize) {
    return refuse(file, kLoadBadFileSize, "its size field is larger than 2097152 bytes");
  }
  if (fileSize < kFileHeaderSize + infoSize) {
    return refuse(file, kLoadBadFileSize, "its size field is smaller than its headers");
  }
  loadedEnd = fileSize;
  if (!readAt(file, 0, BMP_DUMP, fileSize)) {
    return refuse(file, kLoadCannotRead, "the file is shorter than its size field");
  }
  fclose(file);

  printf("Size Struct info %u dec   %x hex\n", infoSize, infoSize);
  if (const char* version = versionLine(infoSize)) {
    printf("%s", version);
    normalise(infoSize);
    if (bhfo.width < 0 || bhfo.height < 0) {
      return refuse(nullptr, kLoadBadDimensions, "its width or height is negative");
    }
    if (bhfo.width == 0 || bhfo.height == 0) {
      return refuse(nullptr, kLoadBadDimensions, "its width or height is zero");
    }
    if (!depthIsDrawn(bhfo.bitCount)) {
      printf("Bit in Pixel(color) %u\n", unsigned(bhfo.bitCount));
      return refuse(nullptr, kLoadBadDepth,
                    "only 8, 16, 24 and 32 bits per pixel are drawn (save it with 24)");
    }
    if (!pixelsArePlain(infoSize, bhfo.bitCount)) {
      return refuse(nullptr, kLoadCompressed, "its pixels are compressed (save it uncompressed)");
    }
  }
  const uint64_t bytesPerPixel = bhfo.bitCount / 8;
  const uint64_t stride = (uint64_t(bhfo.width) * bytesPerPixel + 3) & ~uint64_t(3);
  if (bmpPixelOffset() + uint64_t(bhfo.height) * stride > fileSize) {
    return refuse(nullptr, kLoadPixelsOutside, "its pixel array runs past the end of the file");
  }

  bmppar.bytesPerPixel = uint32_t(bytesPerPixel);
  BMP_GSetClip(0, 0, bhfo.width, bhfo.height);
  printf("--- step x %u\r\n", bmppar.bytesPerPixel);
  bmppar.stride = uint32_t(stride);
  printf("--- step y %u\r\n", bmppar.stride);
  printf("%s", kRule);
  printf("Type         : %x\n", unsigned(bhfi.type));
  printf("Size          : %u bytes\n", fileSize);
  printf("Start addr: %x hex\n", bmpPixelOffset());
  printf("%s", kRule);
  printf("Widht :  %u\n", uint32_t(bhfo.width));
  printf("Haight : %u\n", uint32_t(bhfo.height));
  printf("Bit in Pixel(color) %u\n", unsigned(bhfo.bitCount));
  return kLoadOk;
}
