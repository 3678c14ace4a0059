// The screen message: the whole BMP file image as one unmasked binary frame.
//
// The payload area of a connection's transmit buffer is also that
// connection's copy of the picture it was sent last, so a frame is built only
// when the picture differs from that copy. Comparison and copy run under
// BMPmutex, so every frame carries one consistent picture.
#include "server/screen.h"

#include <cstring>

#include "server/records.h"

namespace {

constexpr uint8_t kBinaryFinal = 0x82;  // FIN set, opcode 2
constexpr uint32_t kMax7 = 125;
constexpr uint32_t kMax16 = 65535;
constexpr uint8_t kLength16 = 126;
constexpr uint8_t kLength64 = 127;

static_assert(kFrameBufferSize + kFrameHeaderMax <= kTxBufSize);

// Writes the frame header for a payload of `length` bytes; returns its size.
uint32_t writeHeader(uint8_t* txbuf, uint32_t length) {
  txbuf[0] = kBinaryFinal;
  if (length <= kMax7) {
    txbuf[1] = uint8_t(length);
    return 2;
  }
  if (length <= kMax16) {
    txbuf[1] = kLength16;
    txbuf[2] = uint8_t(length >> 8);
    txbuf[3] = uint8_t(length);
    return 4;
  }
  txbuf[1] = kLength64;
  const uint64_t wide = length;
  for (int i = 0; i < 8; ++i) txbuf[2 + i] = uint8_t(wide >> (56 - 8 * i));
  return kFrameHeaderMax;
}

}  // namespace

int wsscreen(uint8_t* txbuf) {
  if (flagNew.load(std::memory_order_acquire) == 0) return 0;
  pthread_mutex_lock(&BMPmutex);
  // The loader refuses any file larger than BMP_DUMP, and the transmit buffer
  // holds BMP_DUMP and the largest header; the bound only keeps the copy
  // inside both should that ever change.
  uint32_t length = bmpFileSize();
  if (length > kFrameBufferSize) length = kFrameBufferSize;
  const uint32_t header = writeHeader(txbuf, length);
  uint8_t* copy = txbuf + header;
  const bool changed = memcmp(BMP_DUMP, copy, length) != 0;
  if (changed) memcpy(copy, BMP_DUMP, length);
  pthread_mutex_unlock(&BMPmutex);
  return changed ? int(header + length) : 0;
}
