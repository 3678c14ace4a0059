// Fuzzes the inflating of received frames: any frame, on a connection that
// accepted compression or not, is refused or gives a whole frame within the
// receive buffer whose payload is at most the message bound, and which then
// decodes like any frame. The first input byte picks the agreement and the
// slot; the rest is the frame.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/extensions.h"
#include "server/frames.h"
#include "server/records.h"
#include "server/wire.h"

namespace {

wssession session;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > size_t(kRxBufSize) + 1) return 0;
  session.deflateOn = (data[0] & 1) != 0 ? uint8_t(kOfferAccepted) : uint8_t(kOfferNone);
  session.slot.slotIndex = uint8_t((data[0] >> 1) % kMaxClients);
  // Exactly the frame's bytes, so any read past them is caught.
  std::vector<uint8_t> frame(data + 1, data + size);
  uint8_t plain[kRxBufSize];
  const int length = wsplainFrame(&session, frame.data(), int(frame.size()), plain);
  if (length == 0 || length == kFrameBadBits || length == kFrameBadBody || length == kFrameTooLarge)
    return 0;
  if (length < 2 || length > kRxBufSize) abort();
  if (wsframeLength(plain, length) != length) abort();
  if ((plain[0] & kReservedBits) != 0 || (plain[0] & kOpcodeBits) != (frame[0] & kOpcodeBits))
    abort();
  wsdecode(&session, plain, length);
  if (rdbuf[kRdBufSize - 1] != 0) abort();
  return 0;
}
