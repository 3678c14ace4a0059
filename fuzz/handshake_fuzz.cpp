// Fuzzes the opening handshake with arbitrary request bytes, filling the
// receive buffer up to its last byte: every field stays NUL-terminated within
// its size and the reply is always 129 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "server/handshake.h"

namespace {

wssession record;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t taken = size < size_t(kRxBufSize) ? size : size_t(kRxBufSize);
  memset(record.rxbuf, 0, kRxBufSize);
  memcpy(record.rxbuf, data, taken);
  wsin(&record);
  if (record.wsKey[sizeof record.wsKey - 1] != 0) abort();
  if (record.wsExtensions[sizeof record.wsExtensions - 1] != 0) abort();
  wsout(&record);
  if (record.replyLen != kReplyLength || strlen(record.reply) != size_t(kReplyLength)) abort();
  return 0;
}
