// The connection thread: one per accepted browser. It answers the opening
// handshake, exchanges two pings, then streams: the screen is offered at the
// start of every turn, and every frame the browser sends is acted on in order.
// The request must be in whole within kRequestDeadlineMs of accept; until it
// has been read and let in, the connection is pending, and a newcomer may
// take its slot (server/listener.h).
//
// A read may hold several frames and may end inside one: the whole frames are
// decoded one after another and a cut tail is kept at the start of rxbuf, so
// the next read completes it. A compressed frame is inflated before it is
// decoded.
#include "server/connection.h"

#include <openssl/crypto.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "door/access_key.h"
#include "door/front_door.h"
#include "server/frames.h"
#include "server/handshake.h"
#include "server/listener.h"
#include "server/records.h"
#include "server/screen.h"
#include "server/socket_io.h"

namespace {

constexpr useconds_t kTurnPauseMicros = 100000;

// Connection states.
constexpr uint8_t kStateHandshake = 0;   // waiting for the upgrade request
constexpr uint8_t kStateFirstPing = 1;   // reply sent, first ping outstanding
constexpr uint8_t kStateSecondPing = 2;  // one pong in, second ping outstanding
constexpr uint8_t kStateStreaming = 255;

// One record per slot: a slot's record belongs to the single thread that
// holds the slot. Each is over 2 MiB, too large for a thread's stack.
wssession sessions[kMaxClients];

struct Connection {
  wssession* record;
  int sock;
  uint8_t state;
  int kept;                   // bytes of a cut frame kept at the start of rxbuf
  Peer peer;                  // as accepted
  int64_t requestDeadlineMs;  // the whole request is in by then, or the connection ends
};

// Acts on one whole frame by the connection's state; false ends the connection.
bool actOnFrame(Connection& con, const uint8_t* frame, int frameLen) {
  const int code = wsdecode(con.record, frame, frameLen);
  if (code == kFrameClose) return false;
  switch (con.state) {
    case kStateFirstPing:
      if (code == kFramePong) {
        con.state = kStateSecondPing;
        con.record->pingOn = 255;
      }
      break;
    case kStateSecondPing:
      if (code == kFramePong) {
        con.state = kStateStreaming;
        con.record->pingOn = 0;
        if (con.record->changesOn == 0) plainViewerJoins(con.record->slot.slotIndex);
        flagNew.store(255);
      } else {
        con.record->pingOn = 255;
      }
      break;
    default: {
      // A view session sees the picture; its reports are dropped.
      const PayloadReceiver receive = payloadReceiver.load();
      if (receive != nullptr && con.record->viewOnly == 0)
        receive(reinterpret_cast<char*>(rdbuf), kRdBufSize);
      break;
    }
  }
  return true;
}

// Acts on every whole frame in the first `filled` bytes of rxbuf and keeps the
// cut tail; false ends the connection (a close, a frame too large ever to
// fit the receive buffer, reserved bits not agreed on, or a compressed body
// that does not inflate within the same bound).
bool actOnFrames(Connection& con, int filled) {
  uint8_t* bytes = con.record->rxbuf;
  int used = 0;
  while (used < filled) {
    const int frameLen = wsframeLength(bytes + used, filled - used);
    if (frameLen < 0) return false;
    if (frameLen == 0) break;
    uint8_t plain[kRxBufSize];
    const int plainLen = wsplainFrame(con.record, bytes + used, frameLen, plain);
    if (plainLen < 0) return false;
    const bool goOn =
        plainLen > 0 ? actOnFrame(con, plain, plainLen) : actOnFrame(con, bytes + used, frameLen);
    if (!goOn) return false;
    used += frameLen;
  }
  con.kept = filled - used;
  memmove(bytes, bytes + used, size_t(con.kept));
  return true;
}

// Sends the 101 reply built from the upgrade request and starts the two
// pings; false when the reply did not go out.
bool beginWebSocket(Connection& con, const HttpRequest& request) {
  wssession* record = con.record;
  wsin(record, request);
  wsout(record);
  if (wssWr(con.sock, reinterpret_cast<const uint8_t*>(record->reply), record->replyLen) < 0) {
    return false;
  }
  record->pingOn = 255;
  con.state = kStateFirstPing;
  return true;
}

// The first read, whole, is the request, read here once. A page request, or
// an upgrade the server refuses, gets its HTTP answer and ends the
// connection; any other read is answered as the upgrade request. False when
// the connection ends.
bool answerRequest(Connection& con, int got) {
  wssession* record = con.record;
  const HttpRequest request = readHttpRequest(record->rxbuf, got);
  int access = kAccessNone;
  if (answerHttp(con.sock, request, {record->rxbuf, got, kRxBufSize}, con.peer, &access) !=
      kFirstReadUpgrade) {
    return false;
  }
  markAdmitted(record->slot.slotIndex);
  record->viewOnly = access == kAccessView ? 255 : 0;
  return beginWebSocket(con, request);
}

// The handshake's turn: the request, read by its deadline and answered. Its
// bytes are cleared once answered, since they may hold a key. False ends the
// connection.
bool readAndAnswerRequest(Connection& con) {
  uint8_t* bytes = con.record->rxbuf;
  memset(bytes, 0, kRxBufSize);
  uint8_t peerClosed = 0;
  const int got = readRequest(con.sock, bytes, kRxBufSize, con.requestDeadlineMs, &peerClosed);
  if (got == kRequestNone) return true;
  if (got < 0) return false;
  const bool goOn = answerRequest(con, got);
  OPENSSL_cleanse(bytes, kRxBufSize);
  return goOn && peerClosed == 0;
}

// One turn after the screen: read, then act on what arrived. False ends the
// connection.
bool readAndAct(Connection& con) {
  if (con.state == kStateHandshake) return readAndAnswerRequest(con);
  wssession* record = con.record;
  memset(record->rxbuf + con.kept, 0, size_t(kRxBufSize - con.kept));
  uint8_t peerClosed = 0;
  const int got = wssRd(con.sock, record->rxbuf + con.kept, kRxBufSize - con.kept, &peerClosed);
  if (got == kSocketError) return false;
  if (got < 0) {
    // A quiet read: ping while the exchange asks for it. A peer that has
    // closed its side also reads as quiet, and ends the connection.
    if (record->pingOn != 0 && wssWr(con.sock, kServerPing, sizeof kServerPing) < 0) return false;
    return peerClosed == 0;
  }
  return actOnFrames(con, con.kept + got) && peerClosed == 0;
}

// Offers the screen; false when a frame did not go out whole, since the
// browser's framing would then be broken.
bool offerScreen(Connection& con) {
  wssession* record = con.record;
  const int length = screenFrame(record);
  if (length > 0 && wssWr(con.sock, record->txbuf, length) != length) return false;
  if (record->changesOn == 0) plainViewerHas(record->slot.slotIndex, *record);
  return true;
}

}  // namespace

void* server_con(void* arg) {
  wsclients* server = static_cast<wsclients*>(arg);
  pthread_setname_np(pthread_self(), "ws-con");  // seen in ps -L and by the tests

  // Take the hand-over under the lock and tell the listener it is taken, so
  // the next connection cannot overwrite sock and slotIndex before this copy.
  pthread_mutex_lock(&serverWSmutex);
  uint8_t runCopy = work.load();
  const uint8_t slotIndex = server->slotIndex;
  wssession* record = &sessions[slotIndex];
  record->slot = *server;
  const Peer peer = slotDoors[slotIndex].peer;
  const int64_t requestDeadlineMs = slotDoors[slotIndex].acceptedMs + kRequestDeadlineMs;
  handoverPending = false;
  pthread_cond_signal(&handoverTaken);
  pthread_mutex_unlock(&serverWSmutex);

  // The transmit buffer is written only as far as each message needs, so a
  // slot holds no more memory than its connection's pictures took.
  record->pingOn = 0;
  record->deflateOn = 0;
  record->changesOn = 0;
  record->sent.version = 0;
  record->viewOnly = 0;
  Connection con{record, record->slot.sock, kStateHandshake, 0, peer, requestDeadlineMs};

  while (runCopy != 0) {
    if (con.state == kStateStreaming && !offerScreen(con)) break;
    if (!readAndAct(con)) break;
    runCopy = workCopy();
    usleep(kTurnPauseMicros);
  }

  if (con.state == kStateStreaming && record->changesOn == 0) plainViewerLeaves(slotIndex);
  releaseSlot(slotIndex, con.sock);
  printf("== Close Client ==\n");
  pthread_exit(nullptr);
}
