// State shared by the parts of the WebSocket server: the run flag and its
// lock, the table of five streaming slots, the streaming flag, and the
// per-connection record wssession.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "graphics/framebuffer.h"
#include "server/wire.h"
#include "widgets/control_map.h"

constexpr int kMaxClients = 5;
constexpr int kRxBufSize = 1024;
// The largest payload a message may carry, as sent or once inflated: what a
// masked frame with a 16-bit length can hold in the receive buffer.
constexpr int kMessageMax = kRxBufSize - 8;
// Room after a compressed body for the four bytes the inflater appends.
constexpr int kBodyTailRoom = 4;
// The transmit buffer holds the largest picture the frame buffer accepts plus
// the 10-byte frame header, so every accepted picture streams.
constexpr uint32_t kTxBufSize = kFrameBufferSize + kFrameHeaderMax;
// The control map's message: the longest map (widgets/control_map.h) and its
// frame header.
constexpr uint32_t kMapFrameSize = kControlMapSize + kFrameHeaderMax;

// Run flag of the server threads: 255 running, 0 stop. Guarded by
// serverWSmutex for writes and the threads' per-turn copies; atomic because
// the control loop tests it without the lock.
extern std::atomic<uint8_t> work;
// Created once, by its static initialiser.
extern pthread_mutex_t serverWSmutex;

// A thread's copy of work, taken under serverWSmutex.
uint8_t workCopy();
// Clears work under serverWSmutex: the listener and every connection end at
// the end of their current turn, and a connection sleeping in poll is woken
// to end at once.
void stopWSserver();

// The five streaming slots; a record's copy names its own connection.
struct wsclients {
  int32_t sock;               // in a record: its connection's descriptor
  uint8_t slotIndex;          // in a record: its slot
  uint8_t busy[kMaxClients];  // 255 taken, 0 free
  uint8_t clientCount;        // number of slots taken
};

// Guarded by serverWSmutex.
extern wsclients wsserver;

// What a streaming connection does with each payload it decodes: the text,
// NUL-terminated within len bytes, which the receiver may modify. Set once
// at start-up, before the server starts (main hands over the pointer-report
// parser); while none is set, payloads are dropped. The result tells the
// connection what the payload did to the pointer: kPayloadHolds (it holds
// the pointer down), kPayloadLetsGo (a click or a lift), or kPayloadNeither
// (no report: a ping's payload, one key alone).
constexpr int kPayloadNeither = -1;
constexpr int kPayloadLetsGo = 0;
constexpr int kPayloadHolds = 1;
using PayloadReceiver = int (*)(char* text, int len);
extern std::atomic<PayloadReceiver> payloadReceiver;

// 0 until the first connection reaches streaming, then 255 for good.
extern std::atomic<uint8_t> flagNew;

// What a connection's last screen message was: the whole picture, the
// whole picture compressed, or a change message (server/changes.h).
enum class SentKind : uint8_t { Picture, PackedPicture, Change };

// The screen message a connection was sent last; its body stays in txbuf
// after the frame header.
struct LastSent {
  uint32_t version;  // picture version it brought the connection to, 0 none yet
  uint32_t length;   // its payload length
  SentKind kind;
  uint32_t mark;  // the picture mark (server/screen.h) it is current with, 0 none
};

// A message arriving in fragments: the payload of each frame is added here
// until the final one, bounded like a message in one frame.
struct MessageJoin {
  uint8_t first;   // the first frame's opcode and compressed bit; 0 while none is open
  int32_t length;  // payload bytes joined so far
  uint8_t bytes[kMessageMax + kBodyTailRoom];
};

// One connection's record; belongs to its connection thread alone.
// txbuf is placed so that a large picture's copy, after the 10-byte header,
// starts on the frame buffer's boundary (kPictureAlign).
struct alignas(kPictureAlign) wssession {
  uint8_t rxbuf[kRxBufSize];  // first field: the record's address is the received bytes'
  uint8_t txAlign[kPictureAlign - kFrameHeaderMax];  // puts txbuf's payload on the boundary
  uint8_t txbuf[kTxBufSize];  // screen frame; its payload is the copy last sent
  uint8_t pingOn;             // 255: ping after every empty read
  char reply[320];            // handshake reply text, with an accepted extension's line
  uint8_t maskKey[4];         // masking key of the frame decoded last
  int32_t replyLen;
  char wsKey[26];
  int32_t wsVersion;
  char wsExtensions[128];  // the offer list without spaces; a longer one is declined
  uint8_t deflateOn;       // the accepted extension terms (server/extensions.h), 0 none
  uint8_t changesOn;       // 255 when the change stream (server/changes.h) was agreed
  uint8_t controlsOn;      // 255 when the control map was agreed too
  uint32_t mapVersion;     // the control map version last sent, 0 none yet
  LastSent sent;           // the last screen message (server/screen.h)
  char wsAccept[64];
  uint8_t viewOnly;  // 255: a view session, whose reports are dropped
  MessageJoin join;  // the fragmented message being received
  wsclients slot;    // its own connection and slot
  // The control map's message last built (server/control_message.h).
  uint8_t mapFrame[kMapFrameSize];
};
static_assert(__builtin_offsetof(wssession, rxbuf) == 0, "rxbuf must be first");
static_assert((__builtin_offsetof(wssession, txbuf) + kFrameHeaderMax) % kPictureAlign == 0,
              "a large picture's copy must share BMP_DUMP's alignment");
