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
// Decodes the frame at the start of record->rxbuf.
int wsfunc(wssession* record);
