// Frame decoding: classify a browser's frame by its opcode and unmask the
// payload of text, binary and pong frames into rdbuf.
//
// A read may hold several frames and may end inside one: wsframeLength tells
// where each whole frame ends, and wsdecode decodes one of them, so the
// connection thread acts on every frame in order and keeps a cut tail for the
// next read. Nothing here touches a socket.
#pragma once

#include <cstdint>

#include "server/records.h"
#include "server/wire.h"

constexpr int kRdBufSize = 1024;

// Unmasked payload of the frame decoded last on this thread; always followed
// by at least one zero byte. One buffer per connection thread, so two
// connections never mix their payloads.
extern thread_local uint8_t rdbuf[kRdBufSize];

// Results of wsdecode and wsfunc.
constexpr int kFrameClose = -1;
constexpr int kFramePong = -2;

// Whole frame length (> 0) when a complete frame lies in the first `available`
// bytes; 0 when more bytes are needed; -1 when the frame it announces can
// never fit the receive buffer.
int wsframeLength(const uint8_t* bytes, int available);
// Decodes the frame at `frame`, reading at most frameLen bytes (a frame cut
// short yields only the payload bytes present): -1 close, -2 pong, for text
// the count of bytes before the first zero byte within frameLen (positive),
// 0 for every other frame. rdbuf is cleared first, whatever the frame.
int wsdecode(wssession* record, const uint8_t* frame, int frameLen);

// Results of wsplainFrame.
constexpr int kFrameBadBits = -3;   // reserved bits the connection did not agree to
constexpr int kFrameBadBody = -4;   // a compressed body that is not valid DEFLATE
constexpr int kFrameTooLarge = -5;  // a compressed body that inflates past kMessageMax

// A received frame as its reader must see it. 0 when the frame is plain (no
// reserved bit set): it is read as it is. For a compressed frame (the first
// reserved bit, on a connection that accepted compression) its body is
// inflated into an unmasked frame built in plain (kRxBufSize bytes), and that
// frame's length is returned. kFrameBadBits for any other reserved bit, or
// compression the connection did not accept; kFrameBadBody when the body is
// not valid DEFLATE, kFrameTooLarge when it inflates to more than kMessageMax
// bytes.
int wsplainFrame(wssession* record, const uint8_t* frame, int frameLen, uint8_t* plain);
// What a whole received frame asks of its connection (wstakeFrame).
struct FrameTake {
  int8_t step;
  int32_t length;  // the bytes of `out` the step names
};
// Act on a message as on a frame of today: `out` holds it as an unmasked
// final frame of `length` bytes, or, when length is 0, the frame as it came
// is that message (text, binary, or a pong).
constexpr int8_t kTakeMessage = 0;
// A fragment was joined: nothing to act on yet.
constexpr int8_t kTakeNothing = 1;
// A ping: `out` holds the pong that answers it, carrying its payload, to be
// sent between messages.
constexpr int8_t kTakeAnswer = 2;
// `out` holds the close frame to send; then the connection ends. It answers
// a close frame with its status code, or reports kCloseProtocolError or
// kCloseTooBig.
constexpr int8_t kTakeEnd = 3;

// Takes one whole frame (wsframeLength's length) by the framing rules:
// control frames final and short, known opcodes, reserved bits only as
// agreed, fragments joined in record->join up to kMessageMax payload bytes
// (a compressed message is joined, then inflated). `out` holds kRxBufSize
// bytes.
FrameTake wstakeFrame(wssession* record, const uint8_t* frame, int frameLen, uint8_t* out);

// Decodes the frame at the start of record->rxbuf.
int wsfunc(wssession* record);
