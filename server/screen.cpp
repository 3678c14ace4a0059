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
// wsscreen is the first form of the check: the payload area of a
// connection's transmit buffer is its copy of the picture, compared whole
// with the picture under BMPmutex on every call.
#include "server/screen.h"

#include <cstring>

#include "graphics/drawn_area.h"
#include "server/deflate.h"
#include "server/frames.h"
#include "server/wire.h"

namespace {

constexpr uint8_t kBinaryFinal = kFinalBit | kOpBinary;

static_assert(kFrameBufferSize + kFrameHeaderMax <= kTxBufSize);

pthread_mutex_t screenMutex = PTHREAD_MUTEX_INITIALIZER;

// Guarded by screenMutex.
alignas(kPictureAlign) uint8_t snapshot[kFrameBufferSize];
uint32_t snapshotLength = 0;
uint32_t snapshotVersion = 0;  // 0 until the first snapshot
uint8_t packed[kFrameBufferSize];
int32_t packedLength = 0;  // the compressed body's length, or a deflatePicture failure
uint32_t packedVersion = 0;

// snapshotVersion for a look without the lock.
std::atomic<uint32_t> publishedVersion{0};

// The file's length as the buffers can hold it. The loader refuses any file
// larger than BMP_DUMP; the bound only keeps every copy inside should that
// ever change.
uint32_t pictureLength() {
  const uint32_t length = bmpFileSize();
  return length < kFrameBufferSize ? length : kFrameBufferSize;
}

// Compares bytes [from, to) of the picture with the snapshot and copies them
// when they differ; true when they did.
bool takeSpan(uint32_t from, uint32_t to) {
  if (to > snapshotLength) to = snapshotLength;
  if (from >= to) return false;
  if (memcmp(snapshot + from, BMP_DUMP + from, to - from) == 0) return false;
  memcpy(snapshot + from, BMP_DUMP + from, to - from);
  return true;
}

// Brings the snapshot up to date with what was drawn since the last look;
// the caller holds screenMutex.
void refreshSnapshot() {
  if (snapshotVersion != 0 && !bmpAreaPending()) return;
  bool changed = false;
  {
    FrameLock lock;
    const BmpDirtyArea area = bmpTakeArea();
    const uint32_t length = pictureLength();
    if (snapshotVersion == 0 || area.whole || length != snapshotLength) {
      changed = snapshotVersion == 0 || length != snapshotLength;
      snapshotLength = length;
      changed = takeSpan(0, length) || changed;
    } else if (area.right != 0) {
      // The area lies inside the clip, so every index is inside the file.
      for (uint32_t y = area.top; y < area.bottom; ++y) {
        const size_t from = bmpPixelIndex(area.left, y);
        const size_t to = bmpPixelIndex(area.right, y);
        if (from >= length) break;
        changed = takeSpan(uint32_t(from), uint32_t(to < length ? to : length)) || changed;
      }
    }
  }
  if (changed) {
    snapshotVersion = snapshotVersion == UINT32_MAX ? 1 : snapshotVersion + 1;
    publishedVersion.store(snapshotVersion, std::memory_order_release);
  }
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
