// The fixed bytes of a WebSocket frame, written once for the server, its
// tests and its tools: the opcodes, the bits of the first two header bytes,
// the length markers and the lengths each length field holds, and the
// writer of the header the server puts before what it sends.
#pragma once

#include <cstdint>

// Opcodes (the low four bits of the first byte). From kOpClose up they are
// control frames: never fragmented, at most kMax7 payload bytes.
constexpr uint8_t kOpContinuation = 0x0;
constexpr uint8_t kOpText = 0x1;
constexpr uint8_t kOpBinary = 0x2;
constexpr uint8_t kOpClose = 0x8;
constexpr uint8_t kOpPing = 0x9;
constexpr uint8_t kOpPong = 0xA;
constexpr uint8_t kOpcodeBits = 0x0F;

// The other bits of the first byte: final fragment and the three reserved
// bits. The first reserved bit marks the first frame of a compressed message.
constexpr uint8_t kFinalBit = 0x80;
constexpr uint8_t kFrameCompressed = 0x40;
constexpr uint8_t kReserved2 = 0x20;
constexpr uint8_t kReserved3 = 0x10;
constexpr uint8_t kReservedBits = kFrameCompressed | kReserved2 | kReserved3;

// The second byte: the mask bit and the 7-bit length code, which is the
// length itself up to kMax7 or a marker announcing a longer length field.
constexpr uint8_t kMaskBit = 0x80;
constexpr uint8_t kLengthBits = 0x7F;
constexpr uint8_t kLength16 = 126;  // a 16-bit length follows
constexpr uint8_t kLength64 = 127;  // a 64-bit length follows
constexpr uint32_t kMax7 = 125;     // the longest length held in the length code
constexpr uint32_t kMax16 = 65535;  // the longest length held in the 16-bit field
constexpr int kMaskSize = 4;

// The longest header the server writes: two bytes and a 64-bit length.
constexpr int kFrameHeaderMax = 10;

// The server's ping: a final ping frame carrying "Hello".
constexpr uint8_t kServerPing[] = {kFinalBit | kOpPing, 5, 'H', 'e', 'l', 'l', 'o'};

// Status codes a close frame carries (two bytes, most significant first).
constexpr uint16_t kCloseNormal = 1000;
constexpr uint16_t kCloseGoingAway = 1001;      // the server stops
constexpr uint16_t kCloseProtocolError = 1002;  // a frame broke the framing rules
constexpr uint16_t kCloseTooBig = 1009;         // a message longer than the server takes
constexpr uint16_t kCloseNoStatus = 0;          // a close frame without a body
// The longest close frame the server writes: header and status code.
constexpr int kCloseFrameMax = 4;

// Writes the header of an unmasked frame: the first byte as given (final
// bit, reserved bits, opcode) and the shortest length field for `length`;
// returns the header's size (2, 4 or kFrameHeaderMax).
uint32_t wsframeHeader(uint8_t* out, uint8_t first, uint32_t length);
// Writes an unmasked close frame carrying `code` (none for kCloseNoStatus);
// returns its size (2 or kCloseFrameMax).
uint32_t wscloseFrame(uint8_t* out, uint16_t code);
