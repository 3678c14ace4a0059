// Frame decoding: where each whole frame in a read ends, and the decoding of
// one frame into rdbuf with the result that drives the connection.
//
// A frame is only decoded from bytes that are there: the header, the masking
// key and the payload are each checked against the bytes given, and the
// payload copy stops one byte short of rdbuf so a NUL always follows it.
#include "server/frames.h"

#include <cstring>

#include "server/deflate.h"

thread_local uint8_t rdbuf[kRdBufSize];

namespace {

constexpr uint8_t kFinalAndOpcode = kFinalBit | kOpcodeBits;

// A whole frame must fit the receive buffer, so every payload is shorter than
// rdbuf and leaves room for the NUL after it.
static_assert(kRxBufSize - 2 < kRdBufSize);

struct FrameHeader {
  uint8_t opcode;
  bool masked;
  int keyAt;        // offset of the masking key
  int payloadAt;    // offset of the payload
  uint64_t length;  // announced payload length
};

// Reads the header fields from the first `available` bytes; false when they
// end before the length field does. The masking key may still be missing.
bool readHeader(const uint8_t* bytes, int available, FrameHeader* header) {
  if (available < 2) return false;
  const uint8_t code = bytes[1] & kLengthBits;
  header->opcode = bytes[0] & kOpcodeBits;
  header->masked = (bytes[1] & kMaskBit) != 0;
  header->keyAt = code == kLength64 ? kFrameHeaderMax : code == kLength16 ? 4 : 2;
  header->payloadAt = header->keyAt + (header->masked ? kMaskSize : 0);
  if (available < header->keyAt) return false;
  if (code == kLength16) {
    header->length = uint64_t(bytes[2]) << 8 | bytes[3];
  } else if (code == kLength64) {
    header->length = 0;
    for (int i = 2; i < kFrameHeaderMax; ++i) header->length = header->length << 8 | bytes[i];
  } else {
    header->length = code;
  }
  return true;
}

// Copies count payload bytes to dst, unmasked with the frame's key when the
// header says it is masked.
void unmask(uint8_t* dst, const uint8_t* frame, const FrameHeader& header, size_t count) {
  const uint8_t* payload = frame + header.payloadAt;
  const uint8_t* key = frame + header.keyAt;
  for (size_t k = 0; k < count; ++k) {
    dst[k] = header.masked ? payload[k] ^ key[k % kMaskSize] : payload[k];
  }
}

}  // namespace

int wsframeLength(const uint8_t* bytes, int available) {
  if (available < 2) return 0;
  // The 64-bit form announces at least 65,536 bytes in a minimal frame: it can
  // never lie whole in the receive buffer.
  if ((bytes[1] & kLengthBits) == kLength64) return -1;
  FrameHeader header;
  if (!readHeader(bytes, available, &header)) return 0;
  const uint64_t whole = uint64_t(header.payloadAt) + header.length;
  if (whole > uint64_t(kRxBufSize)) return -1;
  return whole <= uint64_t(available) ? int(whole) : 0;
}

int wsdecode(wssession* record, const uint8_t* frame, int frameLen) {
  memset(rdbuf, 0, sizeof rdbuf);
  if (frameLen < 1) return 0;
  const uint8_t opcode = frame[0] & kOpcodeBits;
  if (opcode == kOpClose) return kFrameClose;
  if (opcode != kOpText && opcode != kOpBinary && opcode != kOpPong) return 0;

  FrameHeader header;
  if (readHeader(frame, frameLen, &header) && frameLen >= header.payloadAt) {
    if (header.masked) memcpy(record->maskKey, frame + header.keyAt, kMaskSize);
    // Only the payload bytes that are present, and never the last byte of rdbuf.
    uint64_t count = header.length;
    if (count > uint64_t(frameLen - header.payloadAt))
      count = uint64_t(frameLen - header.payloadAt);
    if (count > kRdBufSize - 1) count = kRdBufSize - 1;
    unmask(rdbuf, frame, header, size_t(count));
  }
  if (opcode == kOpPong) return kFramePong;
  if (opcode == kOpBinary) return 0;
  // Text: the bytes before the frame's first zero byte; at least 1, as the
  // frame's first byte carries the opcode.
  return int(strnlen(reinterpret_cast<const char*>(frame), size_t(frameLen)));
}

int wsplainFrame(wssession* record, const uint8_t* frame, int frameLen, uint8_t* plain) {
  if (frameLen < 1) return 0;
  const uint8_t reserved = frame[0] & kReservedBits;
  if (reserved == 0) return 0;
  if (reserved != kFrameCompressed || record->deflateOn == 0) return kFrameBadBits;
  FrameHeader header;
  if (!readHeader(frame, frameLen, &header) || header.length > uint64_t(kRxBufSize) ||
      uint64_t(header.payloadAt) + header.length > uint64_t(frameLen)) {
    return kFrameBadBody;
  }
  // The body unmasked, with room for the tail the inflater adds.
  uint8_t body[kRxBufSize + kInflateTailSize];
  const int bodyLength = int(header.length);
  unmask(body, frame, header, size_t(bodyLength));
  // Inflated after room for the largest header it can need, then moved up
  // behind the header it does need: an unmasked frame of the same kind.
  constexpr int kRoom = 4;
  static_assert(kMessageMax > int(kMax7) && kMessageMax <= int(kMax16) &&
                kRoom + kMessageMax <= kRxBufSize);
  const int made =
      inflateMessage(record->slot.slotIndex, body, bodyLength, plain + kRoom, kMessageMax);
  if (made < 0) return kFrameBadBody;
  const uint32_t headerSize = wsframeHeader(plain, frame[0] & kFinalAndOpcode, uint32_t(made));
  memmove(plain + headerSize, plain + kRoom, size_t(made));
  return int(headerSize) + made;
}

int wsfunc(wssession* record) {
  return wsdecode(record, record->rxbuf, kRxBufSize);
}
