// The change stream: what a viewer that offered the panel's own subprotocol
// gets after its first whole picture. A change message carries only the byte
// spans of the BMP file image that changed between two picture versions.
// The message format, every encoding and every edge (versions, whole
// pictures mid-stream) are written once, in docs/protocol.md ("The change
// stream"); the constants below follow it.
//
// The work is split by lock: stageSegment compares and copies under BMPmutex
// (the old bytes are gone after it), encodeChange and the history run under
// the screen's lock alone. Nothing here allocates and nothing here holds
// state: every buffer, the history included, is the caller's (the screen's
// picture stream, server/screen.h).
#pragma once

#include <cstddef>
#include <cstdint>

// The subprotocol names the page offers and the server confirms: the change
// stream, and the change stream with the control map (widgets/control_map.h)
// sent beside it.
constexpr char kChangesProtocol[] = "panel-changes-v1";
constexpr char kControlsProtocol[] = "panel-controls-v1";

constexpr uint8_t kChangeFormat = 1;
constexpr uint32_t kChangeHeaderSize = 18;
constexpr uint32_t kSpanHeaderSize = 9;
constexpr uint8_t kSpanNew = 0;  // the span's bytes are the new bytes
constexpr uint8_t kSpanXor = 1;  // the span's bytes are new XOR held
// No bytes follow: the span's new bytes are the previous span's new bytes
// (the same length), as a filled rectangle's rows are.
constexpr uint8_t kSpanRepeat = 2;
// Two changed runs closer than this many unchanged bytes go out as one span:
// the unchanged bytes cost less than another span header.
constexpr uint32_t kMergeGap = kSpanHeaderSize;

// Bytes [offset, offset + length) of the file image.
struct ByteSpan {
  uint32_t offset;
  uint32_t length;
};

// Picture versions count from 1 and wrap from the largest back to 1: 0 is
// never a version, so it stands for "none yet".
constexpr uint32_t pictureVersionAfter(uint32_t version) {
  return version == UINT32_MAX ? 1 : version + 1;
}
constexpr uint32_t pictureVersionBefore(uint32_t version) {
  return version <= 1 ? UINT32_MAX : version - 1;
}

// ---- The offer ---------------------------------------------------------------

// Results of chooseChangesOffer.
constexpr int kOfferPictures = 0;  // neither name: whole pictures only
constexpr int kOfferChanges = 1;   // the change stream
constexpr int kOfferControls = 2;  // the change stream and the control map

// What the Sec-WebSocket-Protocol list (spaces removed, first `length`
// bytes, stopping at a NUL) asks for: kOfferControls when one of its
// entries is kControlsProtocol, else kOfferChanges when one is
// kChangesProtocol, else kOfferPictures.
int chooseChangesOffer(const char* offers, size_t length);
// Puts "Sec-WebSocket-Protocol: <the name of offer>" before the blank line
// that ends the reply (replyLen bytes of replySize); the new length, or
// replyLen when it would not fit or offer is kOfferPictures.
int addAcceptedProtocol(char* reply, int replyLen, size_t replySize, int offer);

// ---- Staging, under BMPmutex -------------------------------------------------

// Segments of the picture compared since the last encoding, with the XOR of
// old and new bytes of each laid end to end in xorBytes.
constexpr int kStageSegments = 4096;
struct ChangeStage {
  uint8_t* xorBytes;  // room for the picture's length
  uint32_t used;      // bytes of xorBytes filled
  int count;          // segments[0 .. count)
  ByteSpan segments[kStageSegments];
};

// Compares bytes [from, to) of picture with held; when they differ, appends
// the segment's XOR to the stage and copies the new bytes into held. True
// when they differed; false also when the stage is full (kStageSegments),
// after which the caller stages the whole file instead.
bool stageSegment(ChangeStage* stage, const uint8_t* picture, uint8_t* held, uint32_t from,
                  uint32_t to);

// ---- Encoding, under the screen's lock -----------------------------------------

// Results of encodeChange and unionMessage.
constexpr int kChangeTooLarge = -1;  // no shorter than the whole picture: send that
constexpr int kChangeTooMany = -2;   // more spans than a table holds

// Writes the change message from version `from` to `to` of a picture whose
// file image is now `held` (fileLength bytes, pixels of bytesPerPixel bytes,
// 0 read as 1) into out, at most fileLength bytes; lists the spans sent in
// spans (room for maxSpans). The message length, or a result above.
int encodeChange(const ChangeStage& stage, const uint8_t* held, uint32_t fileLength,
                 uint32_t bytesPerPixel, uint32_t from, uint32_t to, uint8_t* out, ByteSpan* spans,
                 int maxSpans, int* spanCount);

// ---- The history ---------------------------------------------------------------

// The spans of the last few versions, so a viewer several versions behind
// gets the union of what changed since its version: areas only, never a
// picture. A version whose change was not a span list (the first picture, a
// new file length, too many spans) breaks the chain.
constexpr int kHistoryVersions = 8;
constexpr int kHistorySpans = 2048;

struct HistoryEntry {
  uint32_t version;  // 0: empty
  int count;         // spans held, or < 0 when the version has no span list
  ByteSpan spans[kHistorySpans];
};
struct ChangeHistory {
  HistoryEntry entries[kHistoryVersions];               // version v at v % kHistoryVersions
  ByteSpan gathered[kHistoryVersions * kHistorySpans];  // unionMessage's room
};

// Records version's spans (count < 0: no span list).
void noteVersion(ChangeHistory* history, uint32_t version, const ByteSpan* spans, int count);
// The message bringing a viewer from version `from` to `to` with the new
// bytes of every span changed in between, taken from held, into out (at
// most fileLength bytes): its length, kChangeTooLarge, or kChangeTooMany
// also when the history does not reach back to `from`.
int unionMessage(ChangeHistory* history, uint32_t from, uint32_t to, const uint8_t* held,
                 uint32_t fileLength, uint8_t* out);
