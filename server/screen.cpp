// The screen message: the whole BMP file image as one binary frame.
//
// The connections share one picture stream (screen.h). Whoever looks first
// after something was drawn compares the drawn area (graphics/drawn_area.h)
// with the snapshot under BMPmutex, copies what differs and gives the
// snapshot a new version; the compressed body is made from the snapshot
// once per version, outside BMPmutex, so drawing never waits for it. Each
// connection keeps the version and the body it was sent last in its own
// transmit buffer, and gets a frame only when the version moved on and the
// body differs from that one: equal bodies from one compressor mean equal
// pictures. screenMutex is always taken before BMPmutex, never after. At
// the slow beat the drawn area covers the whole file image.
//
// A connection that agreed the change stream (server/changes.h) gets its
// first picture whole, then change messages: the comparison stages the XOR
// of every changed segment under BMPmutex, and the change from the previous
// version is encoded (and compressed) once per version under screenMutex
// alone. A connection further behind gets the union of the spans since its
// version from the history, or the whole picture again.
//
// wsscreen is the first form of the check: the payload area of a
// connection's transmit buffer is its copy of the picture, compared whole
// with the picture under BMPmutex on every call.
#include "server/screen.h"

#include <cstring>

#include "graphics/drawn_area.h"
#include "server/changes.h"
#include "server/deflate.h"
#include "server/frames.h"
#include "server/slot_wake.h"
#include "server/wire.h"

namespace {

constexpr uint8_t kBinaryFinal = kFinalBit | kOpBinary;

static_assert(kFrameBufferSize + kFrameHeaderMax <= kTxBufSize);

}  // namespace

pthread_mutex_t screenMutex = PTHREAD_MUTEX_INITIALIZER;
PictureStream pictureStream;

namespace {

// pictureStream.version for a look without the lock.
std::atomic<uint32_t> publishedVersion{0};
// Marks: the last take begun (written under BMPmutex) and the last whose
// version is published (under screenMutex); both read without a lock.
std::atomic<uint32_t> takeBegun{0};
std::atomic<uint32_t> takeDone{0};
// Per slot: whether a plain viewer streams in it, and the mark it holds.
std::atomic<bool> plainJoined[kMaxClients];
std::atomic<uint32_t> plainMark[kMaxClients];

uint32_t markAfter(uint32_t mark) {
  return mark == UINT32_MAX ? 1 : mark + 1;
}

// A message body for one connection and what kind of message it is.
struct Message {
  const uint8_t* body;
  uint32_t length;
  SentKind kind;
  bool compressed;
};

// The file's length as the buffers can hold it. The loader refuses any file
// larger than BMP_DUMP; the bound only keeps every copy inside should that
// ever change.
uint32_t pictureLength() {
  const uint32_t length = bmpFileSize();
  return length < kFrameBufferSize ? length : kFrameBufferSize;
}

// The drawn area's change test (graphics/drawn_area.h): whether the area's
// bytes differ from the snapshot, the newest picture any viewer is sent. Run
// under BMPmutex, which every write of the snapshot and its length holds.
// Stops at the first difference, so a change costs little here and a
// redraw of what is already there costs one compare of its area.
// Calls each(from, to) with the bytes of every row of the area inside the
// file's `length` bytes, in file order, until one returns true; true when
// one did. The area lies inside the clip, so every index is inside the file.
template <typename Each>
bool anyAreaRow(const BmpDirtyArea& area, uint32_t length, Each each) {
  for (uint32_t y = area.top; y < area.bottom && area.right != 0; ++y) {
    const size_t from = bmpPixelIndex(area.left, y);
    const size_t to = bmpPixelIndex(area.right, y);
    if (from >= length) break;
    if (each(uint32_t(from), uint32_t(to < length ? to : length))) return true;
  }
  return false;
}

// The drawn area's change test (graphics/drawn_area.h): whether the area's
// bytes differ from the snapshot, the newest picture any viewer is sent. Run
// under BMPmutex, which every write of the snapshot and its length holds. It
// stops at the first difference, so a change costs little here; a redraw of
// what is already there costs one compare of its area.
bool snapshotDiffers(const BmpDirtyArea& area) {
  const PictureStream& s = pictureStream;
  const uint32_t length = pictureLength();
  if (length != s.length) return true;
  return anyAreaRow(area, length, [&s](uint32_t from, uint32_t to) {
    return memcmp(BMP_DUMP + from, s.snapshot + from, to - from) != 0;
  });
}

// Brings the snapshot up to date with what was drawn since the last look,
// staging the XOR of every segment that differs; the caller holds
// screenMutex. True when the picture changed.
bool takeDrawn(PictureStream& s) {
  ChangeStage& stage = s.stage;
  stage.xorBytes = s.stagedXor;
  stage.count = 0;
  stage.used = 0;
  FrameLock lock;
  const BmpDirtyArea area = bmpTakeArea();
  s.mark = markAfter(takeBegun.load(std::memory_order_relaxed));
  takeBegun.store(s.mark, std::memory_order_release);
  const uint32_t length = pictureLength();
  if (s.version == 0 || length != s.length) {
    // A first or a new-sized picture: no change message leads to it.
    s.length = length;
    memcpy(s.snapshot, BMP_DUMP, length);
    stage.count = -1;
    // From now on a write that leaves the snapshot's bytes as they are is
    // no change, and wakes no viewer.
    bmpChangeTest.store(snapshotDiffers, std::memory_order_release);
    return true;
  }
  if (area.whole) return stageSegment(&stage, BMP_DUMP, s.snapshot, 0, length);
  bool changed = false;
  anyAreaRow(area, length, [&](uint32_t from, uint32_t to) {
    changed = stageSegment(&stage, BMP_DUMP, s.snapshot, from, to) || changed;
    return false;
  });
  return changed;
}

// Gives the snapshot a new version and encodes the change into it; the
// caller holds screenMutex.
void newVersion(PictureStream& s) {
  const uint32_t previous = s.version;
  s.version = pictureVersionAfter(s.version);
  int spanCount = -1;
  s.changeLength =
      s.stage.count < 0
          ? kChangeTooLarge
          : encodeChange(s.stage, s.snapshot, s.length, bmppar.bytesPerPixel, previous, s.version,
                         s.change, s.changeSpans, kHistorySpans, &spanCount);
  noteVersion(&s.history, s.version, s.changeSpans, s.changeLength > 0 ? spanCount : -1);
  publishedVersion.store(s.version, std::memory_order_release);
}

// Brings the snapshot up to date and, when it changed, gives it a new
// version and wakes the connections that watch the picture, but the one of
// `slot` (the caller's own); the caller holds screenMutex.
void refreshSnapshot(PictureStream& s, int slot) {
  if (s.version != 0 && !bmpAreaPending()) return;
  const bool changed = takeDrawn(s);
  if (changed) newVersion(s);
  takeDone.store(s.mark, std::memory_order_release);
  if (changed) wakeOtherWatchers(slot);
}
// Compresses message's body into cache once for `version`, so every
// connection that takes that version shares one compression; version 0
// compresses for one caller and leaves the cache holding no version. The
// message then carries the compressed body when it came out smaller.
void packOnce(PackedBody& cache, uint32_t version, Message* message) {
  if (version == 0 || cache.version != version) {
    cache.length = deflatePicture(message->body, message->length, cache.bytes, sizeof cache.bytes);
    cache.version = version;
  }
  if (cache.length <= 0) return;
  message->body = cache.bytes;
  message->length = uint32_t(cache.length);
  message->compressed = true;
}

// The change message bringing record from the version it holds to the
// newest; false when it gets the whole picture instead.
bool changeFor(PictureStream& s, const wssession& record, Message* message) {
  const uint8_t* raw = s.change;
  int32_t rawLength = s.changeLength;
  uint32_t shared = s.version;
  if (record.sent.version != pictureVersionBefore(s.version)) {
    rawLength =
        unionMessage(&s.history, record.sent.version, s.version, s.snapshot, s.length, s.lagging);
    raw = s.lagging;
    shared = 0;
  }
  if (rawLength <= 0) return false;
  *message = Message{raw, uint32_t(rawLength), SentKind::Change, false};
  if (record.deflateOn != 0) packOnce(s.packedChange, shared, message);
  return true;
}

// The whole picture for record, compressed when it accepted compression.
Message pictureFor(PictureStream& s, const wssession& record) {
  Message message{s.snapshot, s.length, SentKind::Picture, false};
  if (record.deflateOn != 0) {
    packOnce(s.packedPicture, s.version, &message);
    if (message.compressed) message.kind = SentKind::PackedPicture;
  }
  return message;
}

}  // namespace

int wsscreen(uint8_t* txbuf) {
  if (flagNew.load(std::memory_order_acquire) == 0) return 0;
  FrameLock lock;
  const uint32_t length = pictureLength();
  const uint32_t header = wsframeHeader(txbuf, kBinaryFinal, length);
  uint8_t* copy = txbuf + header;
  const bool changed = memcmp(BMP_DUMP, copy, length) != 0;
  if (changed) memcpy(copy, BMP_DUMP, length);
  return changed ? int(header + length) : 0;
}

int screenFrame(wssession* record) {
  if (flagNew.load(std::memory_order_acquire) == 0) return 0;
  LastSent& sent = record->sent;
  // Idle: nothing drawn and this connection has the latest version, so it
  // holds the picture as of the last take done (read first: a take that
  // ends after this look may hold a newer drawing).
  const uint32_t done = takeDone.load(std::memory_order_acquire);
  if (sent.version != 0 && sent.version == publishedVersion.load(std::memory_order_acquire) &&
      !bmpAreaPending()) {
    sent.mark = done;
    return 0;
  }
  pthread_mutex_lock(&screenMutex);
  PictureStream& s = pictureStream;
  refreshSnapshot(s, record->slot.slotIndex);
  sent.mark = s.mark;
  if (sent.version == s.version) {
    pthread_mutex_unlock(&screenMutex);
    return 0;
  }
  Message message;
  const bool change =
      record->changesOn != 0 && sent.version != 0 && changeFor(s, *record, &message);
  if (!change) message = pictureFor(s, *record);
  uint8_t* txbuf = record->txbuf;
  const uint32_t header = wsframeHeader(
      txbuf, message.compressed ? kBinaryFinal | kFrameCompressed : kBinaryFinal, message.length);
  // Consecutive versions always differ; after a skipped one the picture may
  // have come back to what this connection holds.
  const bool skipped =
      !change && sent.version != 0 && pictureVersionAfter(sent.version) != s.version;
  const bool same = skipped && sent.length == message.length && sent.kind == message.kind &&
                    memcmp(txbuf + header, message.body, message.length) == 0;
  sent.version = s.version;
  if (!same) {
    memcpy(txbuf + header, message.body, message.length);
    sent.length = message.length;
    sent.kind = message.kind;
  }
  pthread_mutex_unlock(&screenMutex);
  return same ? 0 : int(header + message.length);
}

bool screenTake(int slot) {
  if (flagNew.load(std::memory_order_acquire) == 0) return false;
  if (publishedVersion.load(std::memory_order_acquire) != 0 && !bmpAreaPending()) return false;
  pthread_mutex_lock(&screenMutex);
  const uint32_t before = pictureStream.version;
  refreshSnapshot(pictureStream, slot);
  const bool made = pictureStream.version != before;
  pthread_mutex_unlock(&screenMutex);
  return made;
}

uint32_t screenMark() {
  // Nothing drawn since the last take: that take holds it. Otherwise only a
  // take begun after this call does. bmpWritten is read first, so a take
  // that clears it between the two reads is counted.
  const bool drawn = bmpWritten.load(std::memory_order_acquire);
  const uint32_t begun = takeBegun.load(std::memory_order_acquire);
  return drawn ? markAfter(begun) : begun;
}

bool plainViewersHave(uint32_t mark) {
  for (int slot = 0; slot < kMaxClients; ++slot) {
    if (!plainJoined[slot].load(std::memory_order_acquire)) continue;
    const uint32_t held = plainMark[slot].load(std::memory_order_acquire);
    if (held == 0 || int32_t(held - mark) < 0) return false;
  }
  return true;
}

void plainViewerJoins(int slot) {
  plainMark[slot].store(0, std::memory_order_release);
  plainJoined[slot].store(true, std::memory_order_release);
}

void plainViewerHas(int slot, const wssession& record) {
  plainMark[slot].store(record.sent.mark, std::memory_order_release);
}

void plainViewerLeaves(int slot) {
  plainJoined[slot].store(false, std::memory_order_release);
}
