// The frame header writer.
#include "server/wire.h"

uint32_t wsframeHeader(uint8_t* out, uint8_t first, uint32_t length) {
  out[0] = first;
  if (length <= kMax7) {
    out[1] = uint8_t(length);
    return 2;
  }
  if (length <= kMax16) {
    out[1] = kLength16;
    out[2] = uint8_t(length >> 8);
    out[3] = uint8_t(length);
    return 4;
  }
  out[1] = kLength64;
  const uint64_t wide = length;
  for (int i = 0; i < 8; ++i) out[2 + i] = uint8_t(wide >> (56 - 8 * i));
  return kFrameHeaderMax;
}

uint32_t wscloseFrame(uint8_t* out, uint16_t code) {
  if (code == kCloseNoStatus) return wsframeHeader(out, kFinalBit | kOpClose, 0);
  const uint32_t header = wsframeHeader(out, kFinalBit | kOpClose, 2);
  out[header] = uint8_t(code >> 8);
  out[header + 1] = uint8_t(code);
  return header + 2;
}
