// Applying the change stream's messages to a held file image.
#include "tools/peer/change_viewer.h"

#include "server/changes.h"

namespace {

uint32_t le32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (uint32_t(at[3]) << 24);
}

}  // namespace

bool applyStreamMessage(std::vector<uint8_t>* held, const std::vector<uint8_t>& message) {
  if (message.size() >= 2 && message[0] == 'B' && message[1] == 'M') {
    *held = message;
    return true;
  }
  if (message.size() < kChangeHeaderSize || message[0] != kChangeFormat || message[1] != 0 ||
      le32(&message[10]) != held->size()) {
    return false;
  }
  const uint32_t count = le32(&message[14]);
  size_t at = kChangeHeaderSize;
  uint64_t end = 0;
  int64_t previousLength = -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + kSpanHeaderSize > message.size()) return false;
    const uint32_t length = le32(&message[at + 4]);
    const uint8_t encoding = message[at + 8];
    end += uint64_t(le32(&message[at])) + length;
    if (end > held->size() || encoding > kSpanRepeat) return false;
    if (encoding == kSpanRepeat && length != previousLength) return false;
    previousLength = length;
    at += kSpanHeaderSize + (encoding == kSpanRepeat ? 0 : length);
    if (at > message.size()) return false;
  }
  if (at != message.size()) return false;
  at = kChangeHeaderSize;
  uint32_t offset = 0;
  uint32_t previous = 0;
  for (uint32_t i = 0; i < count; ++i) {
    offset += le32(&message[at]);
    const uint32_t length = le32(&message[at + 4]);
    const uint8_t encoding = message[at + 8];
    const uint8_t* bytes =
        encoding == kSpanRepeat ? held->data() + previous : &message[at + kSpanHeaderSize];
    for (uint32_t k = 0; k < length; ++k) {
      (*held)[offset + k] =
          encoding == kSpanXor ? uint8_t((*held)[offset + k] ^ bytes[k]) : bytes[k];
    }
    previous = offset;
    offset += length;
    at += kSpanHeaderSize + (encoding == kSpanRepeat ? 0 : length);
  }
  return true;
}
