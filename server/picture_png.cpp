// PNG from the frame buffer. The rows are read from BMP_DUMP as the
// compressor takes them, a piece at a time: each pixel is turned to red,
// green and blue, less the pixel above it in the picture (the PNG "Up"
// filter), so no row is ever copied whole. The pixels above a BMP row lie in
// the next row of the file, since BMP rows are stored bottom first.
#include "server/picture_png.h"

#include <zlib.h>

#include <cstring>

#include "graphics/framebuffer.h"
#include "server/deflate.h"

namespace {

constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kChunkFrame = 12;  // length, type, CRC
constexpr int kHeaderData = 13;
constexpr uint8_t kFilterUp = 2;
constexpr uint8_t kHeaderType[4] = {'I', 'H', 'D', 'R'};
constexpr uint8_t kDataType[4] = {'I', 'D', 'A', 'T'};
constexpr uint8_t kEndType[4] = {'I', 'E', 'N', 'D'};
constexpr int kColourBytes = 3;

struct Layout {
  uint32_t width;
  uint32_t height;
  uint32_t bits;
  uint32_t stride;
  uint32_t pixels;   // offset of the bottom row
  uint32_t palette;  // offset of the palette (8 bits)
  uint32_t paletteEntry;
  uint32_t paletteEntries;
};

// Where the compressor stands: the PNG row and the byte within it, the
// filter byte being byte 0.
struct RowCursor {
  const Layout* layout;
  uint32_t row;
  uint32_t at;
};

void put32(uint8_t* out, uint32_t value) {
  out[0] = uint8_t(value >> 24);
  out[1] = uint8_t(value >> 16);
  out[2] = uint8_t(value >> 8);
  out[3] = uint8_t(value);
}

uint32_t get32(uint32_t at) {
  return BMP_DUMP[at] | uint32_t(BMP_DUMP[at + 1]) << 8 | uint32_t(BMP_DUMP[at + 2]) << 16 |
         uint32_t(BMP_DUMP[at + 3]) << 24;
}

// The colour byte `channel` (0 red, 1 green, 2 blue) of pixel x in the BMP
// row starting at `row`.
uint8_t colourAt(const Layout& layout, const uint8_t* row, uint32_t x, uint32_t channel) {
  if (layout.bits == 8) {
    const uint32_t index = row[x];
    if (index >= layout.paletteEntries) return 0;
    return BMP_DUMP[layout.palette + index * layout.paletteEntry + (2 - channel)];
  }
  return row[x * (layout.bits / 8) + (2 - channel)];
}

int nextPiece(void* context, uint8_t* piece, int size) {
  RowCursor& cursor = *static_cast<RowCursor*>(context);
  const Layout& layout = *cursor.layout;
  const uint32_t rowBytes = 1 + layout.width * kColourBytes;
  int made = 0;
  while (made < size && cursor.row < layout.height) {
    if (cursor.at == 0) {
      piece[made++] = cursor.row == 0 ? 0 : kFilterUp;
      cursor.at = 1;
    }
    // The PNG's rows are the BMP's from the top; the row above is the
    // file's next one.
    const uint32_t fileRow = layout.height - 1 - cursor.row;
    const uint8_t* row = BMP_DUMP + layout.pixels + fileRow * layout.stride;
    const uint8_t* above = cursor.row == 0 ? nullptr : row + layout.stride;
    uint32_t x = (cursor.at - 1) / kColourBytes;
    uint32_t channel = (cursor.at - 1) % kColourBytes;
    while (made < size && cursor.at < rowBytes) {
      uint8_t value = colourAt(layout, row, x, channel);
      if (above != nullptr) value = uint8_t(value - colourAt(layout, above, x, channel));
      piece[made++] = value;
      ++cursor.at;
      if (++channel == kColourBytes) {
        channel = 0;
        ++x;
      }
    }
    if (cursor.at == rowBytes) {
      cursor.at = 0;
      ++cursor.row;
    }
  }
  return made;
}

// The picture's layout when it converts: 8 bits with a palette, 24 or 32
// bits without colour masks.
int readLayout(Layout* layout) {
  const uint32_t fileSize = bmpFileSize();
  if (fileSize == 0 || bhfo.width <= 0 || bhfo.height <= 0) return kPngNoPicture;
  const uint32_t infoSize = bhfi.infoSizeLow;
  const uint32_t compression = infoSize >= 40 ? get32(kFileHeaderSize + 16) : 0;
  layout->width = uint32_t(bhfo.width);
  layout->height = uint32_t(bhfo.height);
  layout->bits = bhfo.bitCount;
  layout->stride = bmppar.stride;
  layout->pixels = bmpPixelOffset();
  if (compression != 0) return kPngUnsupported;
  if (layout->bits == 8) {
    layout->palette = kFileHeaderSize + infoSize;
    layout->paletteEntry = infoSize == 12 ? 3 : 4;
    const uint32_t used = infoSize >= 40 ? get32(kFileHeaderSize + 32) : 0;
    const uint32_t room = layout->pixels > layout->palette ? layout->pixels - layout->palette : 0;
    uint32_t entries = used == 0 || used > 256 ? 256 : used;
    if (entries > room / layout->paletteEntry) entries = room / layout->paletteEntry;
    layout->paletteEntries = entries;
  } else if (layout->bits != 24 && layout->bits != 32) {
    return kPngUnsupported;
  }
  // The loader checked that the rows lie inside the file image.
  return 0;
}

uint32_t chunkCrc(const uint8_t* typeAndData, uint32_t length) {
  return uint32_t(crc32(crc32(0, nullptr, 0), typeAndData, uInt(length)));
}

}  // namespace

int pictureToPng(int slot, uint8_t* out, int outSize) {
  Layout layout{};
  const int readable = readLayout(&layout);
  if (readable != 0) return readable;
  constexpr int kHeaderChunk = kChunkFrame + kHeaderData;
  constexpr int kDataAt = int(sizeof kSignature) + kHeaderChunk + 8;
  constexpr int kEnd = kChunkFrame;
  if (outSize < kDataAt + 4 + kEnd) return kPngTooLarge;

  memcpy(out, kSignature, sizeof kSignature);
  uint8_t* header = out + sizeof kSignature;
  put32(header, kHeaderData);
  memcpy(header + 4, kHeaderType, 4);
  put32(header + 8, layout.width);
  put32(header + 12, layout.height);
  const uint8_t depthAndKind[] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, filters, no interlace
  memcpy(header + 16, depthAndKind, sizeof depthAndKind);
  put32(header + 8 + kHeaderData, chunkCrc(header + 4, 4 + kHeaderData));

  RowCursor cursor{&layout, 0, 0};
  const int packed =
      zlibCompress(slot, nextPiece, &cursor, out + kDataAt, outSize - kDataAt - 4 - kEnd);
  if (packed == kDeflateFailed) return kPngFailed;
  if (packed < 0) return kPngTooLarge;
  uint8_t* data = out + kDataAt - 8;
  put32(data, uint32_t(packed));
  memcpy(data + 4, kDataType, 4);
  put32(out + kDataAt + packed, chunkCrc(data + 4, 4 + uint32_t(packed)));
  uint8_t* end = out + kDataAt + packed + 4;
  put32(end, 0);
  memcpy(end + 4, kEndType, 4);
  put32(end + 8, chunkCrc(end + 4, 4));
  return kDataAt + packed + 4 + kEnd;
}
