// Fuzzes frame decoding on a stream of received bytes, fed in reads of
// varying size the way a connection thread feeds them: each read appends to
// the cut tail kept at the start of the receive buffer, every whole frame is
// decoded in order, and the tail is moved to the front. The same stream read
// in one go and read in small pieces must decode to the same frames, each
// decode must stay inside the bytes it was given, and rdbuf must always end
// in a zero byte. Each frame is also taken by the framing rules (fragments
// joined across frames): the step is one of the four, an answer is a pong,
// an end a close frame, and a joined message a whole frame.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "server/frames.h"
#include "server/records.h"
#include "server/wire.h"

namespace {

wssession session;

struct Decoded {
  int code;
  int step;
  std::vector<uint8_t> payload;  // rdbuf up to its first zero byte
};

// Decodes one whole frame held in a buffer of exactly its length, so any read
// past the frame is caught.
Decoded decodeAlone(const uint8_t* frame, int frameLen) {
  std::vector<uint8_t> exact(frame, frame + frameLen);
  const int code = wsdecode(&session, exact.data(), frameLen);
  if (rdbuf[kRdBufSize - 1] != 0) abort();
  if (code > frameLen) abort();  // a text result counts bytes of the frame
  const size_t payloadLen = strnlen(reinterpret_cast<const char*>(rdbuf), kRdBufSize);
  std::vector<uint8_t> payload(rdbuf, rdbuf + payloadLen);
  uint8_t out[kRxBufSize];
  const FrameTake take = wstakeFrame(&session, exact.data(), frameLen, out);
  if (take.length < 0 || take.length > kRxBufSize) abort();
  switch (take.step) {
    case kTakeMessage:
      if (take.length > 0 && wsframeLength(out, take.length) != take.length) abort();
      break;
    case kTakeNothing: break;
    case kTakeAnswer:
      if (out[0] != (kFinalBit | kOpPong) || take.length < 2) abort();
      break;
    case kTakeEnd:
      if (out[0] != (kFinalBit | kOpClose) || (take.length != 2 && take.length != 4)) abort();
      break;
    default: abort();
  }
  return {code, take.step, std::move(payload)};
}

// Feeds the stream through the receive buffer in reads whose sizes come from
// `sizes` (cycled; 0 means as much as fits). Stops where a connection would
// end: a close frame or a frame that can never fit.
std::vector<Decoded> feed(const uint8_t* data, size_t size, const uint8_t* sizes,
                          size_t sizeCount) {
  std::vector<Decoded> out;
  uint8_t* rx = session.rxbuf;
  int kept = 0;
  size_t at = 0;
  session.join.first = 0;
  for (size_t turn = 0; at < size; ++turn) {
    const int room = kRxBufSize - kept;
    int want = sizeCount ? sizes[turn % sizeCount] : 0;
    if (want == 0 || want > room) want = room;
    const int got = int(size - at < size_t(want) ? size - at : size_t(want));
    memset(rx + kept, 0, size_t(room));
    memcpy(rx + kept, data + at, size_t(got));
    at += size_t(got);
    const int filled = kept + got;
    int used = 0;
    while (used < filled) {
      const int frameLen = wsframeLength(rx + used, filled - used);
      if (frameLen < 0) return out;
      if (frameLen == 0) break;
      if (frameLen > filled - used) abort();
      out.push_back(decodeAlone(rx + used, frameLen));
      if (out.back().code == kFrameClose) return out;
      used += frameLen;
    }
    kept = filled - used;
    // A tail that fills the whole buffer can never complete: the frame it
    // starts would have been refused as too long.
    if (kept == kRxBufSize) abort();
    memmove(rx, rx + used, size_t(kept));
  }
  return out;
}

bool same(const std::vector<Decoded>& a, const std::vector<Decoded>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].code != b[i].code || a[i].step != b[i].step || a[i].payload != b[i].payload)
      return false;
  }
  return true;
}

}  // namespace

// Input: one byte n, then n read sizes, then the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t sizeCount = data[0] % 8;
  if (size < 1 + sizeCount) return 0;
  const uint8_t* sizes = data + 1;
  const uint8_t* stream = data + 1 + sizeCount;
  const size_t streamLen = size - 1 - sizeCount;

  const std::vector<Decoded> whole = feed(stream, streamLen, nullptr, 0);
  const std::vector<Decoded> pieces = feed(stream, streamLen, sizes, sizeCount);
  if (!same(whole, pieces)) abort();

  // A frame cut anywhere decodes only the bytes present.
  if (streamLen > 0) {
    const int cut = int(streamLen < size_t(kRxBufSize) ? streamLen : size_t(kRxBufSize));
    decodeAlone(stream, cut);
  }
  // The whole receive buffer, as wsfunc reads it.
  memset(session.rxbuf, 0, sizeof session.rxbuf);
  memcpy(session.rxbuf, stream, streamLen < size_t(kRxBufSize) ? streamLen : size_t(kRxBufSize));
  wsfunc(&session);
  if (rdbuf[kRdBufSize - 1] != 0) abort();
  return 0;
}
