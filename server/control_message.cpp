// The control map's message: a text frame of the published map.
#include "server/control_message.h"

#include <cstring>

#include "server/deflate.h"
#include "server/frames.h"
#include "server/screen.h"
#include "server/wire.h"
#include "widgets/control_map.h"

namespace {

// The compressed map of one version, shared by every connection; guarded
// by screenMutex, which also takes turns with the one compressor.
struct PackedMap {
  uint8_t bytes[kControlMapSize];
  int32_t length;    // the body's length, or a deflatePicture failure
  uint32_t version;  // 0 none
};
PackedMap packedMap;

// The frame of body in out: its length.
int putFrame(uint8_t* out, uint8_t first, const uint8_t* body, uint32_t length) {
  const uint32_t header = wsframeHeader(out, first, length);
  memcpy(out + header, body, length);
  return int(header + length);
}

}  // namespace

int controlMapFrame(wssession* record) {
  if (record->controlsOn == 0 || controlMapVersion() == record->mapVersion) return 0;
  char text[kControlMapSize];
  uint32_t version = 0;
  const int length = copyControlMap(text, sizeof text, &version);
  if (length < 0) return 0;
  record->mapVersion = version;
  const auto* plain = reinterpret_cast<const uint8_t*>(text);
  if (record->deflateOn == 0)
    return putFrame(record->mapFrame, kFinalBit | kOpText, plain, uint32_t(length));
  pthread_mutex_lock(&screenMutex);
  if (packedMap.version != version) {
    packedMap.length =
        deflatePicture(plain, uint32_t(length), packedMap.bytes, sizeof packedMap.bytes);
    packedMap.version = version;
  }
  const int frame = packedMap.length > 0
                        ? putFrame(record->mapFrame, kFinalBit | kOpText | kFrameCompressed,
                                   packedMap.bytes, uint32_t(packedMap.length))
                        : putFrame(record->mapFrame, kFinalBit | kOpText, plain, uint32_t(length));
  pthread_mutex_unlock(&screenMutex);
  return frame;
}
