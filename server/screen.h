// The screen message: what a streaming connection is sent of the picture.
// A connection gets the whole BMP file image as one unmasked binary frame,
// compressed when it accepted compression, and only when the picture
// differs from what it was sent last. A connection that agreed the change
// stream (server/changes.h) gets its first picture whole and then change
// messages, each carrying only the bytes that changed since the version it
// holds.
//
// Behind the messages is one picture stream, shared by every connection: a
// snapshot of the picture with its version, the staged change into the
// newest version, the history of the last few versions' spans and the
// compressed bodies made once per version.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "server/changes.h"
#include "server/records.h"

// ---- The messages ----------------------------------------------------------------

// Frame length placed in txbuf (header plus payload) when the picture changed
// since this buffer's last frame, else 0. Nothing before any connection has
// reached streaming (flagNew 0). The copy counts as sent once the frame is
// built: a frame that does not go out whole (any wssWr result other than its
// length) must end the connection, as the peer's byte stream is then broken.
// Compares the whole picture with the copy in txbuf.
int wsscreen(uint8_t* txbuf);

// The screen message for one connection, in record->txbuf: its length when
// there is one to send, else 0, with wsscreen's rules. The first call after
// record->sent.version was set to 0 always builds one, a whole picture.
// Only the area drawn since the last look is compared, once for all
// connections; the message body is the picture, its compressed form, or a
// change message, each made once per version for every connection that
// takes it. An idle call takes no lock.
int screenFrame(wssession* record);

// ---- Marks: what the plain viewers have been sent ------------------------------
//
// A mark counts the screen's takes of the drawn area: a connection holding
// the picture as of take n holds everything drawn before that take. Marks
// count from 1 and wrap back to 1; 0 is none.

// A mark of the picture as drawn so far: call after drawing.
uint32_t screenMark();
// True when every streaming connection that did not agree the change stream
// has been sent the picture as of `mark` (or has looked and found it
// unchanged), or none is connected.
bool plainViewersHave(uint32_t mark);

// The connection thread's part, for a connection that streams without the
// change stream: it joins when it starts streaming, tells what it holds
// (record.sent.mark) after every screen message that went out whole and
// every look that found nothing to send, and leaves when it ends.
void plainViewerJoins(int slot);
void plainViewerHas(int slot, const wssession& record);
void plainViewerLeaves(int slot);

// ---- The picture stream, guarded by screenMutex -----------------------------------

// A compressed body made once per picture version and shared by every
// connection that takes it.
struct PackedBody {
  uint8_t bytes[kFrameBufferSize];
  int32_t length;    // the body's length, or a deflatePicture failure
  uint32_t version;  // the version it was made for; 0 none
};

struct PictureStream {
  // The picture as the connections are sent it, its version (0 until the
  // first snapshot; server/changes.h says how versions wrap) and the mark
  // of the take it is current with.
  alignas(kPictureAlign) uint8_t snapshot[kFrameBufferSize];
  uint32_t length;
  uint32_t version;
  uint32_t mark;
  // The segments compared since the last version, with their XOR.
  uint8_t stagedXor[kFrameBufferSize];
  ChangeStage stage;
  // The change message into the newest version (changeLength <= 0 when
  // there is none) and the spans it carries.
  uint8_t change[kFrameBufferSize];
  int32_t changeLength;
  ByteSpan changeSpans[kHistorySpans];
  ChangeHistory history;
  // The compressed picture and change message of the newest version.
  PackedBody packedPicture;
  PackedBody packedChange;
  // The union message for a connection further behind, built for it alone.
  uint8_t lagging[kFrameBufferSize];
};

// Taken before BMPmutex, never after.
extern pthread_mutex_t screenMutex;
extern PictureStream pictureStream;
