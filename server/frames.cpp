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

namespace {

// Inflates a compressed message body (with kBodyTailRoom bytes of room
// after it) into an unmasked frame in `out`, whose first byte is `first`
// with the compressed bit cleared; its length, or kFrameBadBody or
// kFrameTooLarge.
int inflatedFrame(wssession* record, uint8_t first, uint8_t* body, int bodyLength, uint8_t* out) {
  static_assert(kBodyTailRoom >= kInflateTailSize);
  // Inflated after room for the largest header it can need, then moved up
  // behind the header it does need: an unmasked frame of the same kind.
  constexpr int kRoom = 4;
  static_assert(kMessageMax > int(kMax7) && kMessageMax <= int(kMax16) &&
                kRoom + kMessageMax <= kRxBufSize);
  const int made =
      inflateMessage(record->slot.slotIndex, body, bodyLength, out + kRoom, kMessageMax);
  if (made == kInflateTooLarge) return kFrameTooLarge;
  if (made < 0) return kFrameBadBody;
  const uint32_t headerSize = wsframeHeader(out, first & kFinalAndOpcode, uint32_t(made));
  memmove(out + headerSize, out + kRoom, size_t(made));
  return int(headerSize) + made;
}

FrameTake endWith(uint8_t* out, uint16_t code) {
  return {kTakeEnd, int32_t(wscloseFrame(out, code))};
}

// Status codes a peer may send: the defined ones other than those reserved
// for reporting (1004 to 1006, 1015), and those of applications (3000 up).
bool sendableCloseCode(uint16_t code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) ||
         (code >= 3000 && code <= 4999);
}

// A close frame is answered with one carrying its status code (none when it
// carried none); a body of one byte or an unknown code is a protocol error.
FrameTake answerClose(const uint8_t* frame, const FrameHeader& header, uint8_t* out) {
  if (header.length == 0) return endWith(out, kCloseNoStatus);
  if (header.length < 2) return endWith(out, kCloseProtocolError);
  uint8_t status[2];
  unmask(status, frame, header, 2);
  const uint16_t code = uint16_t(status[0] << 8 | status[1]);
  return endWith(out, sendableCloseCode(code) ? code : kCloseProtocolError);
}

FrameTake takeControl(const uint8_t* frame, const FrameHeader& header, uint8_t* out) {
  const bool final = (frame[0] & kFinalBit) != 0;
  if (!final || (frame[0] & kReservedBits) != 0 || header.length > kMax7 ||
      header.opcode > kOpPong) {
    return endWith(out, kCloseProtocolError);
  }
  if (header.opcode == kOpClose) return answerClose(frame, header, out);
  if (header.opcode == kOpPong) return {kTakeMessage, 0};
  const uint32_t headerSize = wsframeHeader(out, kFinalBit | kOpPong, uint32_t(header.length));
  unmask(out + headerSize, frame, header, size_t(header.length));
  return {kTakeAnswer, int32_t(headerSize + header.length)};
}

// The joined message as a frame to act on.
FrameTake joinedMessage(wssession* record, uint8_t* out) {
  MessageJoin& join = record->join;
  const uint8_t first = kFinalBit | join.first;
  join.first = 0;
  if ((first & kFrameCompressed) != 0) {
    const int length = inflatedFrame(record, first, join.bytes, join.length, out);
    if (length == kFrameTooLarge) return endWith(out, kCloseTooBig);
    if (length < 0) return endWith(out, kCloseProtocolError);
    return {kTakeMessage, length};
  }
  const uint32_t headerSize = wsframeHeader(out, first, uint32_t(join.length));
  memcpy(out + headerSize, join.bytes, size_t(join.length));
  return {kTakeMessage, int32_t(headerSize) + join.length};
}

}  // namespace

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
  uint8_t body[kRxBufSize + kBodyTailRoom];
  const int bodyLength = int(header.length);
  unmask(body, frame, header, size_t(bodyLength));
  return inflatedFrame(record, frame[0], body, bodyLength, plain);
}

FrameTake wstakeFrame(wssession* record, const uint8_t* frame, int frameLen, uint8_t* out) {
  FrameHeader header;
  if (!readHeader(frame, frameLen, &header) ||
      uint64_t(header.payloadAt) + header.length > uint64_t(frameLen)) {
    return endWith(out, kCloseProtocolError);
  }
  if (header.opcode >= kOpClose) return takeControl(frame, header, out);
  const uint8_t reserved = frame[0] & kReservedBits;
  const bool final = (frame[0] & kFinalBit) != 0;
  MessageJoin& join = record->join;
  if (header.opcode > kOpBinary) return endWith(out, kCloseProtocolError);
  if (header.opcode == kOpContinuation) {
    // Only the first frame of a message may be marked compressed.
    if (join.first == 0 || reserved != 0) return endWith(out, kCloseProtocolError);
  } else {
    if (join.first != 0) return endWith(out, kCloseProtocolError);  // a message inside another
    if (final) {
      const int length = wsplainFrame(record, frame, frameLen, out);
      if (length == kFrameTooLarge) return endWith(out, kCloseTooBig);
      if (length < 0) return endWith(out, kCloseProtocolError);
      return {kTakeMessage, length};
    }
    if (reserved != 0 && (reserved != kFrameCompressed || record->deflateOn == 0)) {
      return endWith(out, kCloseProtocolError);
    }
    join.first = frame[0] & (kFrameCompressed | kOpcodeBits);
    join.length = 0;
  }
  if (header.length > uint64_t(kMessageMax - join.length)) {
    join.first = 0;
    return endWith(out, kCloseTooBig);
  }
  unmask(join.bytes + join.length, frame, header, size_t(header.length));
  join.length += int32_t(header.length);
  return final ? joinedMessage(record, out) : FrameTake{kTakeNothing, 0};
}

int wsfunc(wssession* record) {
  return wsdecode(record, record->rxbuf, kRxBufSize);
}
