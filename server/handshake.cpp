// The opening handshake: the reading of the upgrade request and the building
// of the 101 reply.
//
// The request lies in rxbuf, which a read may fill to the last byte without a
// terminating NUL, so every lookup is bounded by the receive buffer's size.
#include "server/handshake.h"

#include <openssl/sha.h>

#include <cstdio>
#include <cstring>

#include "server/base64.h"
#include "server/changes.h"
#include "server/extensions.h"
#include "server/key_value.h"

const char GUIDKey[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
const char response_ws[] =
    "HTTP/1.1 101 Switching Protocols\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Accept: ";

namespace {

constexpr size_t kVersionText = 64;
constexpr size_t kProtocolText = 128;  // the subprotocol list; a longer one is declined
constexpr size_t kKeyText = 64;        // wsKey (at most 25 characters) and the GUID
constexpr size_t kSha1Size = 20;
constexpr int kAcceptLength = 28;    // Base64 of the 20-byte digest
constexpr size_t kReplyBound = 130;  // the reply and its NUL

static_assert(sizeof(response_ws) - 1 == 97);
static_assert(sizeof(GUIDKey) - 1 == 36);
static_assert(sizeof(wssession::wsKey) + sizeof(GUIDKey) <= kKeyText);
static_assert(kReplyLength < int(kReplyBound) && kReplyBound <= sizeof(wssession::reply));

}  // namespace

int wsin(wssession* record) {
  char* request = reinterpret_cast<char*>(record->rxbuf);
  memset(record->wsKey, 0, sizeof record->wsKey);
  strval(request, "Sec-WebSocket-Key:", record->wsKey, kRxBufSize, sizeof record->wsKey);

  char version[kVersionText] = {};
  strval(request, "Sec-WebSocket-Version:", version, kRxBufSize, sizeof version);
  record->wsVersion = decimalValue(version);

  memset(record->wsExtensions, 0, sizeof record->wsExtensions);
  const int found = strval(request, "Sec-WebSocket-Extensions:", record->wsExtensions, kRxBufSize,
                           sizeof record->wsExtensions);
  // A list that filled the field may have been cut: nothing of it is taken.
  const size_t listLength = strnlen(record->wsExtensions, sizeof record->wsExtensions);
  record->deflateOn = listLength + 1 < sizeof record->wsExtensions
                          ? uint8_t(chooseDeflateOffer(record->wsExtensions, listLength))
                          : uint8_t(kOfferNone);

  // The change stream, only when the list names it; a cut list names nothing.
  char protocols[kProtocolText] = {};
  strval(request, "Sec-WebSocket-Protocol:", protocols, kRxBufSize, sizeof protocols);
  const size_t protocolLength = strnlen(protocols, sizeof protocols);
  record->changesOn =
      protocolLength + 1 < sizeof protocols && chooseChangesOffer(protocols, protocolLength) != 0
          ? 255
          : 0;
  return found;
}

int wsout(wssession* record) {
  char keyText[kKeyText] = {};
  uint8_t digest[kSha1Size] = {};
  snprintf(keyText, sizeof keyText, "%.*s%s", int(sizeof record->wsKey), record->wsKey, GUIDKey);
  SHA1(reinterpret_cast<const uint8_t*>(keyText), strlen(keyText), digest);

  memset(record->wsAccept, 0, sizeof record->wsAccept);
  Base64encode(record->wsAccept, digest, int(kSha1Size));

  memset(record->reply, 0, sizeof record->reply);
  snprintf(record->reply, kReplyBound, "%s%.*s%s", response_ws, kAcceptLength, record->wsAccept,
           "\r\n\r\n");
  record->replyLen = addAcceptedExtension(record->reply, int(strlen(record->reply)),
                                          sizeof record->reply, record->deflateOn);
  if (record->changesOn != 0) {
    record->replyLen = addAcceptedProtocol(record->reply, record->replyLen, sizeof record->reply);
  }
  return 0;
}
