// The screen message: the whole BMP file image as one binary frame.
//
// The connections share one snapshot of the picture. Whoever looks first
// after something was drawn compares the drawn area (graphics/drawn_area.h)
// with the snapshot under BMPmutex, copies what differs and gives the
// snapshot a new version; the compressed body is made from the snapshot
// once per version, outside BMPmutex, so drawing never waits for it. Each
// connection keeps the version and the body it was sent last in its own
// transmit buffer, and gets a frame only when the version moved on and the
// body differs from that one: equal bodies from one compressor mean equal
// pictures. screenMutex is always taken before BMPmutex, never after. At
// the slow beat the drawn area covers the whole picture.
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
#include "server/wire.h"

namespace {

constexpr uint8_t kBinaryFinal = kFinalBit | kOpBinary;
// sentCompressed when txbuf holds a change message, never a whole picture.
constexpr uint8_t kSentChange = 1;

static_assert(kFrameBufferSize + kFrameHeaderMax <= kTxBufSize);

pthread_mutex_t screenMutex = PTHREAD_MUTEX_INITIALIZER;

// Guarded by screenMutex.
alignas(kPictureAlign) uint8_t snapshot[kFrameBufferSize];
uint32_t snapshotLength = 0;
uint32_t snapshotVersion = 0;  // 0 until the first snapshot
uint8_t packed[kFrameBufferSize];
int32_t packedLength = 0;  // the compressed body's length, or a deflatePicture failure
uint32_t packedVersion = 0;

// The change stream, guarded by screenMutex: the segments compared since the
// last version, the change message into the newest version (changeLength
// <= 0 when there is none) and its compressed form.
uint8_t stagedXor[kFrameBufferSize];
ChangeStage stage{stagedXor, 0, 0, {}};
uint8_t change[kFrameBufferSize];
int32_t changeLength = 0;
ByteSpan changeSpans[kHistorySpans];
uint8_t packedChange[kFrameBufferSize];
int32_t packedChangeLength = 0;
uint32_t packedChangeVersion = 0;
// The message for a connection further behind, built for it alone.
uint8_t lagging[kFrameBufferSize];

// snapshotVersion for a look without the lock.
std::atomic<uint32_t> publishedVersion{0};

// The file's length as the buffers can hold it. The loader refuses any file
// larger than BMP_DUMP; the bound only keeps every copy inside should that
// ever change.
uint32_t pictureLength() {
  const uint32_t length = bmpFileSize();
  return length < kFrameBufferSize ? length : kFrameBufferSize;
}

// Brings the snapshot up to date with what was drawn since the last look,
// staging the XOR of every segment that differs; the caller holds
// screenMutex. True when the picture changed.
bool takeDrawn() {
  stage.count = 0;
  stage.used = 0;
  FrameLock lock;
  const BmpDirtyArea area = bmpTakeArea();
  const uint32_t length = pictureLength();
  if (snapshotVersion == 0 || length != snapshotLength) {
    // A first or a new-sized picture: no change message leads to it.
    snapshotLength = length;
    memcpy(snapshot, BMP_DUMP, length);
    stage.count = -1;
    return true;
  }
  if (area.whole) return stageSegment(&stage, BMP_DUMP, snapshot, 0, length);
  bool changed = false;
  // The area lies inside the clip, so every index is inside the file.
  for (uint32_t y = area.top; y < area.bottom && area.right != 0; ++y) {
    const size_t from = bmpPixelIndex(area.left, y);
    const size_t to = bmpPixelIndex(area.right, y);
    if (from >= length) break;
    changed = stageSegment(&stage, BMP_DUMP, snapshot, uint32_t(from),
                           uint32_t(to < length ? to : length)) ||
              changed;
  }
  return changed;
}

// Brings the snapshot up to date and, when it changed, gives it a new
// version and encodes the change into it; the caller holds screenMutex.
void refreshSnapshot() {
  if (snapshotVersion != 0 && !bmpAreaPending()) return;
  if (!takeDrawn()) return;
  const uint32_t previous = snapshotVersion;
  snapshotVersion = snapshotVersion == UINT32_MAX ? 1 : snapshotVersion + 1;
  int spanCount = -1;
  changeLength = stage.count < 0 ? kChangeTooLarge
                                 : encodeChange(stage, snapshot, snapshotLength,
                                                bmppar.bytesPerPixel, previous, snapshotVersion,
                                                change, changeSpans, kHistorySpans, &spanCount);
  noteVersion(snapshotVersion, changeSpans, changeLength > 0 ? spanCount : -1);
  publishedVersion.store(snapshotVersion, std::memory_order_release);
}

// The change message bringing record from its version to the newest, in
// body/length (compressed when first gains kFrameCompressed); false when it
// gets the whole picture instead.
bool changeFor(const wssession* record, const uint8_t** body, uint32_t* length, uint8_t* first) {
  const uint32_t previous = snapshotVersion == 1 ? UINT32_MAX : snapshotVersion - 1;
  const uint8_t* raw = change;
  int32_t rawLength = changeLength;
  if (record->sentVersion != previous) {
    rawLength =
        unionMessage(record->sentVersion, snapshotVersion, snapshot, snapshotLength, lagging);
    raw = lagging;
  }
  if (rawLength <= 0) return false;
  *body = raw;
  *length = uint32_t(rawLength);
  if (record->deflateOn == 0) return true;
  int32_t packedLength = packedChangeLength;
  const uint8_t* packedBody = packedChange;
  if (raw == change) {
    if (packedChangeVersion != snapshotVersion) {
      packedChangeLength =
          deflatePicture(change, uint32_t(changeLength), packedChange, sizeof packedChange);
      packedChangeVersion = snapshotVersion;
    }
    packedLength = packedChangeLength;
  } else {
    // The lagging message is compressed into the shared change's room,
    // which is then made again when next asked for.
    packedLength = deflatePicture(lagging, uint32_t(rawLength), packedChange, sizeof packedChange);
    packedChangeVersion = 0;
  }
  if (packedLength > 0) {
    *body = packedBody;
    *length = uint32_t(packedLength);
    *first |= kFrameCompressed;
  }
  return true;
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
  // Idle: nothing drawn and this connection has the latest version.
  if (record->sentVersion != 0 &&
      record->sentVersion == publishedVersion.load(std::memory_order_acquire) &&
      !bmpAreaPending()) {
    return 0;
  }
  pthread_mutex_lock(&screenMutex);
  refreshSnapshot();
  if (record->sentVersion == snapshotVersion) {
    pthread_mutex_unlock(&screenMutex);
    return 0;
  }
  const uint8_t* body = snapshot;
  uint32_t length = snapshotLength;
  uint8_t first = kBinaryFinal;
  if (record->changesOn != 0 && record->sentVersion != 0 &&
      changeFor(record, &body, &length, &first)) {
    uint8_t* txbuf = record->txbuf;
    const uint32_t header = wsframeHeader(txbuf, first, length);
    memcpy(txbuf + header, body, length);
    record->sentVersion = snapshotVersion;
    record->sentCompressed = kSentChange;
    pthread_mutex_unlock(&screenMutex);
    return int(header + length);
  }
  if (record->deflateOn != 0) {
    if (packedVersion != snapshotVersion) {
      packedLength = deflatePicture(snapshot, snapshotLength, packed, sizeof packed);
      packedVersion = snapshotVersion;
    }
    if (packedLength > 0) {
      body = packed;
      length = uint32_t(packedLength);
      first |= kFrameCompressed;
    }
  }
  const uint8_t compressed = (first & kFrameCompressed) != 0 ? 255 : 0;
  // Consecutive versions always differ; after a skipped one the picture may
  // have come back to what this connection holds.
  const bool skipped = record->sentVersion != 0 && record->sentVersion + 1 != snapshotVersion;
  uint8_t* txbuf = record->txbuf;
  const uint32_t header = wsframeHeader(txbuf, first, length);
  const bool same = skipped && record->sentLength == length &&
                    record->sentCompressed == compressed &&
                    memcmp(txbuf + header, body, length) == 0;
  record->sentVersion = snapshotVersion;
  if (!same) {
    memcpy(txbuf + header, body, length);
    record->sentLength = length;
    record->sentCompressed = compressed;
  }
  pthread_mutex_unlock(&screenMutex);
  return same ? 0 : int(header + length);
}
