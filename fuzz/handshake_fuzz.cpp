// Fuzzes the opening handshake on arbitrary received bytes: whatever the
// first read holds (up to a full receive buffer without a terminating zero),
// the request reader, wsin and wsout stay inside the record and the reply is
// always the complete "101 Switching Protocols" answer: 129 bytes, longer
// only when it accepts an offered extension or the page's subprotocol. The
// value extractor is also run on the bytes alone, in a buffer of exactly
// their length, with destinations of every small size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "door/http_request.h"
#include "server/handshake.h"
#include "server/key_value.h"
#include "server/records.h"

namespace {

wssession session;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int length = size < size_t(kRxBufSize) ? int(size) : kRxBufSize;
  memset(session.rxbuf, 0, sizeof session.rxbuf);
  memcpy(session.rxbuf, data, size_t(length));
  wsin(&session, readHttpRequest(session.rxbuf, length));
  wsout(&session);
  const bool plainReply = session.deflateOn == 0 && session.changesOn == 0;
  if (plainReply != (session.replyLen == kReplyLength)) abort();
  if (session.replyLen < kReplyLength || session.replyLen >= int(sizeof session.reply)) abort();
  if (strlen(session.reply) != size_t(session.replyLen)) abort();
  if (memcmp(session.reply, response_ws, strlen(response_ws)) != 0) abort();
  if (memcmp(session.reply + session.replyLen - 4, "\r\n\r\n", 4) != 0) abort();
  // Each value keeps its terminating zero in the last byte of its field.
  if (session.wsKey[sizeof session.wsKey - 1] != 0 ||
      session.wsExtensions[sizeof session.wsExtensions - 1] != 0) {
    abort();
  }

  // The extractor on the raw bytes: the text is not terminated, the value
  // must keep its zero byte whatever the destination size.
  if (size == 0) return 0;
  std::vector<char> text(data, data + size);
  const size_t dstSize = size % 9 + 1;
  std::vector<char> dst(dstSize, 0);
  const int found = strval(text.data(), "Sec-WebSocket-Key:", dst.data(), text.size(), dstSize);
  if (dst[dstSize - 1] != 0) abort();
  if (found != 0 && found != 1) abort();
  return 0;
}
