// The opening handshake: the reading of the upgrade request and the building
// of the 101 reply.
//
// The request's headers come from its one reading (door/http_request.h):
// names without regard to case, spaces and tabs around each value dropped.
#include "server/handshake.h"

// The digest's own routines, not the one-shot SHA1(): the one-shot looks the
// digest up among the library's providers, whose first use maps some 2 MB
// of the library into memory and costs about 70,000 instructions a
// handshake; the accept token needs the plain digest alone.
#define OPENSSL_SUPPRESS_DEPRECATED
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

// Copies the value without its spaces and tabs into dst (at most size - 1
// characters and a NUL); the number of characters copied.
size_t copyCompact(TextSpan value, char* dst, size_t size) {
  size_t out = 0;
  for (int i = 0; i < value.length && out + 1 < size; ++i) {
    const char c = value.text[i];
    if (c == '\0') break;
    if (c != ' ' && c != '\t') dst[out++] = c;
  }
  dst[out] = '\0';
  return out;
}

}  // namespace

int wsin(wssession* record, const HttpRequest& request) {
  memset(record->wsKey, 0, sizeof record->wsKey);
  copyCompact(request.key.value, record->wsKey, sizeof record->wsKey);

  char version[kVersionText] = {};
  copyCompact(request.version.value, version, sizeof version);
  record->wsVersion = decimalValue(version);

  memset(record->wsExtensions, 0, sizeof record->wsExtensions);
  const size_t listLength =
      copyCompact(request.extensions.value, record->wsExtensions, sizeof record->wsExtensions);
  // A list that filled the field may have been cut: nothing of it is taken.
  record->deflateOn = listLength + 1 < sizeof record->wsExtensions
                          ? uint8_t(chooseDeflateOffer(record->wsExtensions, listLength))
                          : uint8_t(kOfferNone);

  // The change stream, and the control map beside it, only when the list
  // names them; a cut list names nothing.
  char protocols[kProtocolText] = {};
  const size_t protocolLength = copyCompact(request.protocols.value, protocols, sizeof protocols);
  const int offer = protocolLength + 1 < sizeof protocols
                        ? chooseChangesOffer(protocols, protocolLength)
                        : kOfferPictures;
  record->changesOn = offer != kOfferPictures ? 255 : 0;
  record->controlsOn = offer == kOfferControls ? 255 : 0;
  return request.extensions.count > 0 ? 1 : 0;
}

int wsout(wssession* record) {
  char keyText[kKeyText] = {};
  uint8_t digest[kSha1Size] = {};
  snprintf(keyText, sizeof keyText, "%.*s%s", int(sizeof record->wsKey), record->wsKey, GUIDKey);
  SHA_CTX sha;
  SHA1_Init(&sha);
  SHA1_Update(&sha, keyText, strlen(keyText));
  SHA1_Final(digest, &sha);

  memset(record->wsAccept, 0, sizeof record->wsAccept);
  Base64encode(record->wsAccept, digest, int(kSha1Size));

  memset(record->reply, 0, sizeof record->reply);
  snprintf(record->reply, kReplyBound, "%s%.*s%s", response_ws, kAcceptLength, record->wsAccept,
           "\r\n\r\n");
  record->replyLen = addAcceptedExtension(record->reply, int(strlen(record->reply)),
                                          sizeof record->reply, record->deflateOn);
  if (record->changesOn != 0) {
    record->replyLen =
        addAcceptedProtocol(record->reply, record->replyLen, sizeof record->reply,
                            record->controlsOn != 0 ? kOfferControls : kOfferChanges);
  }
  return 0;
}
