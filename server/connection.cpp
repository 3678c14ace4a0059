// The connection thread: one per accepted browser. It answers the opening
// handshake, exchanges two pings, then streams: the picture goes out when it
// changed, and every frame the browser sends is acted on in order.
//
// A connection that did not agree the change stream runs in turns: the
// screen is offered at the start of every turn, a read waits for 0.3 s of
// quiet, and while the exchange asks for it a ping follows every quiet read.
//
// A connection that agreed the change stream (the page) sleeps in poll on
// its socket and its slot's wake-up at once (server/slot_wake.h): its two
// pings go out without waiting, each frame is acted on as soon as it is
// whole, and a new picture version goes out as soon as it exists, as does
// a new control map when it agreed the map (server/control_message.h). Its
// messages are written as the socket takes them, never waited on: while it
// still takes one, newer versions are not queued, and the next message
// brings it from the version it holds to the newest.
//
// The request must be in whole within kRequestDeadlineMs of accept; until it
// has been read and let in, the connection is pending, and a newcomer may
// take its slot (server/listener.h). Every connection must then finish the
// ping exchange within kPingExchangeMillis of the 101 reply, and a peer that
// takes nothing of a message for kStalledPeerMillis is dropped; a slow one
// is not.
//
// A read may hold several frames and may end inside one: the whole frames are
// decoded one after another and a cut tail is kept at the start of rxbuf, so
// the next read completes it. A compressed frame is inflated before it is
// decoded.
//
// A connection that ends while its last report held the pointer (a press or
// a move of a held pointer) hands on the page's lift, so a button it held
// springs back as it would on a real lift.
//
// Control frames: a ping is answered with a pong carrying its payload, sent
// between messages (a page's message being written goes out whole first). A
// close frame is answered with a close frame carrying its status code; a
// frame that breaks the framing rules gets a close frame with 1002, one that
// is too long 1009, and a stop of the server 1001. After its close frame the
// server sends nothing more, and waits briefly for the peer to close its side
// so the close frame is not lost to a reset.
#include "server/connection.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "base/clock.h"
#include "door/access_key.h"
#include "door/front_door.h"
#include "graphics/drawn_area.h"
#include "net/bounded_log.h"
#include "net/socket_io.h"
#include "server/control_message.h"
#include "server/frames.h"
#include "server/handshake.h"
#include "server/listener.h"
#include "server/pending.h"
#include "server/records.h"
#include "server/screen.h"
#include "server/scripting.h"
#include "server/slot_wake.h"

namespace {

constexpr useconds_t kTurnPauseMicros = 100000;
// How long the server waits, after its close frame, for the peer to close.
constexpr int64_t kCloseLingerMillis = 500;
// While a page's message is being written, how often the socket's queue is
// looked at to tell a slow peer from a stalled one.
constexpr int kQueueLookMillis = 1000;
// A page's socket takes more only while it holds fewer bytes than this not
// yet sent: beyond it a message waits in txbuf, where a newer version
// replaces it, instead of queueing in the kernel behind older ones. Small,
// so a change waits little behind a slow link (a third of a second at
// 50 KB/s); large enough that a fast link never runs dry between wake-ups.
constexpr int kUnsentMost = 16384;

// Connection states.
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
  int kept;              // bytes of a cut frame kept at the start of rxbuf
  int64_t pingDeadline;  // when the ping exchange must be over (monotonicMs)
  bool holds = false;    // the last report handed on held the pointer
  int pongLength = 0;    // a pong due, in pong; 0 none
  uint8_t pong[2 + kMax7] = {};
  int closeLength = 0;  // the close frame to end with, in closing; 0 none yet
  uint8_t closing[kCloseFrameMax] = {};
  bool midMessage = false;  // a message was cut off: no frame may follow
  bool pingsOnly = false;   // the last read held whole frames, every one a ping
  bool mapNext = false;     // a picture went out last: the control map goes first
};

// The lift a page sends when the pointer is let go.
constexpr char kPointerLift[] = "mouse_button: up\r\n";

// Hands the parser the page's lift for a connection whose last report held
// the pointer.
void liftHeldPointer(const Connection& con) {
  const PayloadReceiver receive = payloadReceiver.load();
  if (!con.holds || receive == nullptr) return;
  char lift[sizeof kPointerLift];
  memcpy(lift, kPointerLift, sizeof lift);
  receive(lift, int(sizeof lift - 1));
}

bool inPingExchange(const Connection& con) {
  return con.state == kStateFirstPing || con.state == kStateSecondPing;
}

// Acts on one whole message frame by the connection's state.
void actOnFrame(Connection& con, const uint8_t* frame, int frameLen) {
  const int code = wsdecode(con.record, frame, frameLen);
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
      if (receive != nullptr && con.record->viewOnly == 0) {
        const int hold = receive(reinterpret_cast<char*>(rdbuf), kRdBufSize);
        if (hold != kPayloadNeither) con.holds = hold == kPayloadHolds;
      }
      break;
    }
  }
}

void endWith(Connection& con, const uint8_t* frame, int length) {
  memcpy(con.closing, frame, size_t(length));
  con.closeLength = length;
}

// Acts on every whole frame in the first `filled` bytes of rxbuf and keeps the
// cut tail; a ping's answer is kept in con.pong. False ends the connection,
// with the close frame to send in con.closing: a close, a frame too large
// ever to fit the receive buffer, or one that breaks the framing rules.
bool actOnFrames(Connection& con, int filled) {
  uint8_t* bytes = con.record->rxbuf;
  int used = 0;
  int pings = 0;
  int frames = 0;
  while (used < filled) {
    const int frameLen = wsframeLength(bytes + used, filled - used);
    uint8_t out[kRxBufSize];
    if (frameLen < 0) {
      endWith(con, out, int(wscloseFrame(out, kCloseTooBig)));
      return false;
    }
    if (frameLen == 0) break;
    const FrameTake take = wstakeFrame(con.record, bytes + used, frameLen, out);
    ++frames;
    if (take.step == kTakeEnd) {
      endWith(con, out, take.length);
      return false;
    }
    if (take.step == kTakeAnswer) {
      // Only the newest ping needs its answer.
      memcpy(con.pong, out, size_t(take.length));
      con.pongLength = take.length;
      ++pings;
    } else if (take.step == kTakeMessage) {
      if (take.length > 0) {
        actOnFrame(con, out, take.length);
      } else {
        actOnFrame(con, bytes + used, frameLen);
      }
    }
    used += frameLen;
  }
  con.pingsOnly = frames > 0 && pings == frames;
  con.kept = filled - used;
  memmove(bytes, bytes + used, size_t(con.kept));
  return true;
}

// Sends the pong due, if any; false when it did not go out.
bool sendPong(Connection& con) {
  if (con.pongLength == 0) return true;
  const int length = con.pongLength;
  con.pongLength = 0;
  return wssWr(con.sock, con.pong, length) == length;
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
  con.pingDeadline = monotonicMs() + kPingExchangeMillis;
  return true;
}

// One turn after the screen: read, then act on what arrived. False ends the
// connection.
bool readAndAct(Connection& con) {
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
  noteHeard(record->slot.slotIndex);
  if (!actOnFrames(con, con.kept + got) || !sendPong(con)) return false;
  // A client's keep-alive pings must not hold back the exchange: a read of
  // pings alone counts as quiet.
  if (con.pingsOnly && record->pingOn != 0 && wssWr(con.sock, kServerPing, sizeof kServerPing) < 0)
    return false;
  return peerClosed == 0;
}

// Offers the screen; false when a frame did not go out whole, since the
// browser's framing would then be broken.
bool offerScreen(Connection& con) {
  wssession* record = con.record;
  const int length = screenFrame(record);
  if (length > 0 && wssWrSteady(con.sock, record->txbuf, length) != length) return false;
  if (record->changesOn == 0) plainViewerHas(record->slot.slotIndex, *record);
  if (record->sent.version == 0) return true;
  const int mapLength = controlMapFrame(record);
  return mapLength <= 0 || wssWrSteady(con.sock, record->mapFrame, mapLength) == mapLength;
}

// ---- The page's connection, sleeping in poll ----------------------------------

// A message being written: bytes [at, length) of txbuf or mapFrame.
struct Outgoing {
  const uint8_t* bytes;
  int at;
  int length;
  int64_t movedAt;   // when the peer last took a byte of it
  int64_t lookedAt;  // when the socket's queue was last looked at
  int unsent;        // what the queue held then, -1 unknown
};

// Writes what the socket takes now; false on an error, or when the peer has
// taken nothing for kStalledPeerMillis.
bool writeSome(Connection& con, Outgoing& out, int64_t now) {
  const int sent = wssWrNow(con.sock, out.bytes + out.at, out.length - out.at);
  if (sent < 0) return false;
  if (sent > 0) {
    out.at += sent;
    out.movedAt = now;
  }
  if (now - out.lookedAt >= kQueueLookMillis) {
    // The socket may stay full for long while a slow peer drains it: what
    // left its queue counts as taken.
    const int queued = wssUnsent(con.sock);
    if (out.unsent >= 0 && queued >= 0 && queued < out.unsent) out.movedAt = now;
    out.unsent = queued;
    out.lookedAt = now;
  }
  return now - out.movedAt < kStalledPeerMillis;
}

// Reads what has arrived and acts on it, sending the second ping as soon as
// the first pong is in; false ends the connection.
bool readNow(Connection& con) {
  wssession* record = con.record;
  memset(record->rxbuf + con.kept, 0, size_t(kRxBufSize - con.kept));
  uint8_t peerClosed = 0;
  const int got = wssRdNow(con.sock, record->rxbuf + con.kept, kRxBufSize - con.kept, &peerClosed);
  if (got == kSocketError || peerClosed != 0) return false;
  if (got <= 0) return true;
  noteHeard(record->slot.slotIndex);
  const uint8_t before = con.state;
  if (!actOnFrames(con, con.kept + got)) return false;
  if (before == kStateFirstPing && con.state == kStateSecondPing) {
    return wssWr(con.sock, kServerPing, sizeof kServerPing) >= 0;
  }
  return true;
}

// The next message for the page: a new picture version, or the control map
// once the first picture went out, each when there is one. After a picture
// the map goes first, so pictures changing at every step cannot hold it
// back; one message of each brings the page to the newest of both.
Outgoing nextMessage(Connection& con, int64_t now) {
  wssession* record = con.record;
  const auto map = [&]() -> Outgoing {
    if (record->sent.version == 0) return Outgoing{};
    const int length = controlMapFrame(record);
    if (length > 0) con.mapNext = false;
    return length > 0 ? Outgoing{record->mapFrame, 0, length, now, now, -1} : Outgoing{};
  };
  if (con.mapNext) {
    const Outgoing first = map();
    if (first.length > 0) return first;
  }
  const int length = screenFrame(record);
  if (length > 0) {
    con.mapNext = true;
    return Outgoing{record->txbuf, 0, length, now, now, -1};
  }
  return map();
}

// How long poll may sleep: until the ping deadline, the next look at the
// queue, or for the first watcher the slow beat (-1: until something
// happens).
int sleepMillis(const Connection& con, const Outgoing& out, int64_t now) {
  if (inPingExchange(con)) return int(con.pingDeadline - now);
  if (out.length > 0) return int(out.lookedAt + kQueueLookMillis - now);
  return firstWatcher(con.record->slot.slotIndex) ? bmpBeatDueInMillis() : -1;
}

// A page is sent a whole picture rarely (its first, or after falling far
// behind); once one is out, the pages it filled go back to the system, so a
// page viewer holds no picture of its own between them: the shared snapshot
// serves it. The body is gone, so no later message is compared with it.
void givePictureBack(wssession* record, int length) {
  if (record->sent.kind == SentKind::Change) return;
  // Only the whole pages inside the picture's bytes.
  const auto page = size_t(sysconf(_SC_PAGESIZE));
  const size_t skip = (page - uintptr_t(record->txbuf) % page) % page;
  const size_t whole = size_t(length) > skip ? (size_t(length) - skip) / page * page : 0;
  if (whole > 0) madvise(record->txbuf + skip, whole, MADV_DONTNEED);
  record->sent.length = 0;
}

// The page's connection from its 101 reply to its end.
void streamLive(Connection& con) {
  const int slot = con.record->slot.slotIndex;
  drainSlotWake(slot);
  setsockopt(con.sock, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentMost, sizeof kUnsentMost);
  Outgoing out{};
  bool goOn = wssWr(con.sock, kServerPing, sizeof kServerPing) >= 0;
  while (goOn && workCopy() != 0) {
    const int64_t now = monotonicMs();
    if (askedToGiveWay(slot)) {
      // A close frame may not cut into a message begun: then the socket
      // just ends.
      if (out.at == 0) wssWr(con.sock, kGiveWayClose, sizeof kGiveWayClose);
      break;
    }
    if (inPingExchange(con) && now >= con.pingDeadline) break;
    if (out.length == 0 && !sendPong(con)) break;
    if (con.state == kStateStreaming) {
      watchPicture(slot, true);
      watchControlMap(slot, con.record->controlsOn != 0);
      // Whoever takes the drawing first wakes the others to a new version,
      // even while still writing a message of its own.
      screenTake(slot);
      if (out.length == 0) out = nextMessage(con, now);
    }
    if (out.length > 0) {
      if (!writeSome(con, out, now)) break;
      if (out.at == out.length) {
        givePictureBack(con.record, out.length);
        out = Outgoing{};
        continue;  // a newer version may already be there
      }
    }
    const int wait = sleepMillis(con, out, now);
    pollfd ready[2] = {{con.sock, short(out.length > 0 ? POLLIN | POLLOUT : POLLIN), 0},
                       {slotWakeFd(slot), POLLIN, 0}};
    if (poll(ready, 2, wait < 0 ? -1 : wait) < 0 && errno != EINTR) break;
    if (ready[1].revents != 0) drainSlotWake(slot);
    if ((ready[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) goOn = readNow(con);
  }
  watchPicture(slot, false);
  watchControlMap(slot, false);
  // A message cut off may be finished for the close frame that follows it.
  if (out.at > 0 && out.at < out.length) {
    const int rest = out.length - out.at;
    const bool closing = con.closeLength > 0 || workCopy() == 0;
    con.midMessage = !closing || wssWrSteady(con.sock, out.bytes + out.at, rest) != rest;
  }
}

// Sends the close frame the connection ends with: the one its frames asked
// for, or 1001 when the server stops (a connection thread starts after the
// 101 reply). Nothing after a message cut off, or to a peer that went away
// without one. Then waits a little for the peer to close its side.
void sendClose(Connection& con) {
  if (con.midMessage) return;
  if (con.closeLength == 0 && workCopy() != 0) return;
  if (con.closeLength == 0) con.closeLength = int(wscloseFrame(con.closing, kCloseGoingAway));
  if (wssWr(con.sock, con.closing, con.closeLength) != con.closeLength) return;
  shutdown(con.sock, SHUT_WR);
  const int64_t until = monotonicMs() + kCloseLingerMillis;
  uint8_t drained[256];
  for (int64_t now = monotonicMs(); now < until; now = monotonicMs()) {
    uint8_t peerClosed = 0;
    const int got =
        wssRdOnce(con.sock, drained, sizeof drained, int(until - now) * 1000, &peerClosed);
    if (got == kSocketError || peerClosed != 0) return;
  }
}

// A door thread's first part: answers the request of its pending entry, or
// takes a streaming slot for an upgrade let in and sends the 101 reply. The
// slot, or -1 when the connection has ended. The request's bytes are
// cleared and the entry given back either way.
int answerPending(int index, Connection& con) {
  PendingConnection& entry = pendingTable[index];
  const int sock = entry.sock;
  const bool peerClosed = entry.peerClosed;
  const HttpRequest request = readHttpRequest(entry.bytes, entry.length);
  int access = kAccessNone;
  int slot = -1;
  // A script's answer is built in a streaming slot's buffers, held only
  // while it is answered. With every slot streaming, the control map and
  // the answers to presses still fit a room of this thread's own; only the
  // pictures then get 503.
  const bool script = scriptPath(request.path);
  const int roomSlot = script ? takeStreamSlot() : -1;
  uint8_t smallRoom[kControlMapSize];
  if (roomSlot >= 0) {
    noteSlotSession(roomSlot, false);
    useAnswerRoom({sessions[roomSlot].txbuf, int(kTxBufSize), roomSlot});
  } else if (script) {
    useAnswerRoom({smallRoom, int(sizeof smallRoom), -1});
  }
  const int answered =
      answerHttp(sock, request, {entry.bytes, entry.length, kRequestHeadMost}, entry.peer, &access);
  if (script) useAnswerRoom({});
  if (roomSlot >= 0) releaseSlot(uint8_t(roomSlot), -1);
  if (answered == kFirstReadUpgrade) {
    slot = takeStreamSlot();
    if (slot < 0 && access == kAccessControl) slot = takeViewersSlot();
  }
  if (slot >= 0) {
    wssession* record = &sessions[slot];
    // The transmit buffer is written only as far as each message needs, so a
    // slot holds no more memory than its connection's pictures took.
    record->slot.sock = sock;
    record->slot.slotIndex = uint8_t(slot);
    record->pingOn = 0;
    record->deflateOn = 0;
    record->changesOn = 0;
    record->controlsOn = 0;
    record->mapVersion = 0;
    record->sent.version = 0;
    record->viewOnly = access == kAccessView ? 255 : 0;
    record->join.first = 0;
    noteSlotSession(slot, access == kAccessView);
    con = Connection{record, sock, kStateFirstPing, 0, 0};
    if (!beginWebSocket(con, request) || peerClosed) {
      releaseSlot(uint8_t(slot), sock);
      slot = -1;
    }
  } else {
    shutdown(sock, SHUT_RDWR);
    close(sock);
  }
  OPENSSL_cleanse(entry.bytes, kRequestHeadMost);
  releasePending(index);
  return slot;
}

}  // namespace

void* server_con(void* arg) {
  pthread_setname_np(pthread_self(), "ws-con");  // seen in ps -L and by the tests
  Connection con{};
  const int slot = answerPending(int(static_cast<PendingConnection*>(arg) - pendingTable), con);
  if (slot < 0) {
    logLine(kLogClosed, "== Close Client ==\n");
    pthread_exit(nullptr);
  }
  wssession* record = con.record;
  if (record->changesOn != 0 && openSlotWakes()) {
    streamLive(con);
  } else {
    for (uint8_t runCopy = workCopy(); runCopy != 0; runCopy = workCopy()) {
      usleep(kTurnPauseMicros);
      if (askedToGiveWay(slot)) {
        wssWr(con.sock, kGiveWayClose, sizeof kGiveWayClose);
        break;
      }
      if (con.state == kStateStreaming && !offerScreen(con)) break;
      if (!readAndAct(con)) break;
      if (inPingExchange(con) && monotonicMs() >= con.pingDeadline) break;
    }
  }

  if (con.state == kStateStreaming && record->changesOn == 0) plainViewerLeaves(slot);
  liftHeldPointer(con);
  sendClose(con);
  releaseSlot(uint8_t(slot), con.sock);
  logLine(kLogClosed, "== Close Client ==\n");
  pthread_exit(nullptr);
}
