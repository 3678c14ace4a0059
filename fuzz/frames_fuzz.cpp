// Fuzzes frame decoding with arbitrary received bytes, walked the way the
// connection thread walks a read: every whole frame decoded in order, a cut
// tail kept, a frame that can never fit ending the walk. Lengths never point
// past the bytes given and rdbuf always ends in a NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "server/frames.h"

namespace {

wssession record;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int available = int(size < size_t(kRxBufSize) ? size : size_t(kRxBufSize));
  memset(record.rxbuf, 0, kRxBufSize);
  memcpy(record.rxbuf, data, size_t(available));

  int at = 0;
  for (;;) {
    const int length = wsframeLength(record.rxbuf + at, available - at);
    if (length < -1 || length > available - at) abort();
    if (length <= 0) break;
    wsdecode(&record, record.rxbuf + at, length);
    if (rdbuf[kRdBufSize - 1] != 0) abort();
    at += length;
  }
  wsfunc(&record);
  if (rdbuf[kRdBufSize - 1] != 0) abort();
  return 0;
}
