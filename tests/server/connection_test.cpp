// The connection thread over loopback, in process: the server runs on a free
// port with a small picture, and raw clients check the bytes on the wire.
#include "server/connection.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "app/control_loop.h"
#include "app/pointer.h"
#include "base/clock.h"
#include "door/front_door.h"
#include "door/served_files.h"
#include "graphics/drawn_area.h"
#include "graphics/framebuffer.h"
#include "net/socket_io.h"
#include "server/changes.h"
#include "server/listener.h"
#include "server/pending.h"
#include "server/records.h"
#include "server/slot_wake.h"
#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/change_viewer.h"
#include "tools/peer/clock.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"
#include "widgets/buttons.h"
#include "widgets/control_map.h"
#include "widgets/sliders.h"
#include "widgets/widget_pointer.h"

namespace {

constexpr int kPingBytes = sizeof kServerPing;

// Starts the server on a port of the system's choosing; returns that port.
uint16_t startServer() {
  EXPECT_EQ(loadBlankPicture(64, 48), kLoadOk);
  wsport = 0;
  payloadReceiver.store(wsworkfunc);
  EXPECT_EQ(startWSserver(), kListening);
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

int slotsTaken() {
  pthread_mutex_lock(&serverWSmutex);
  const int count = wsserver.clientCount;
  pthread_mutex_unlock(&serverWSmutex);
  return count;
}

bool slotTaken(int slot) {
  pthread_mutex_lock(&serverWSmutex);
  const bool taken = wsserver.busy[slot] != 0;
  pthread_mutex_unlock(&serverWSmutex);
  return taken;
}

// Connections the listener holds until their requests are whole.
int pendingHeld() {
  int held = 0;
  for (const PendingConnection& entry : pendingTable) held += entry.state.load() != kPendingFree;
  return held;
}

std::vector<uint8_t> picture() {
  pthread_mutex_lock(&BMPmutex);
  std::vector<uint8_t> bytes(BMP_DUMP, BMP_DUMP + bmpFileSize());
  pthread_mutex_unlock(&BMPmutex);
  return bytes;
}

// Threads of the server still there: the listener and the connections name
// themselves "ws-...".
int serverThreads() {
  DIR* tasks = opendir("/proc/self/task");
  int count = 0;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    count += name.rfind("ws-", 0) == 0;
  }
  closedir(tasks);
  return count;
}

// Reads frames (pictures, pings) until a close frame; its status code, -1
// when none came in time, 0 for a close frame without one.
int closeCode(WsClient& client, int timeoutMs = 3000) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  WsFrame frame;
  while (client.readFrame(&frame, int(std::max<int64_t>(0, deadline - monotonicMs())))) {
    if (frame.opcode != kOpClose) continue;
    return frame.payload.size() < 2 ? 0 : frame.payload[0] << 8 | frame.payload[1];
  }
  return -1;
}

std::string statusOf(uint16_t code) {
  return std::string{char(code >> 8), char(code & 0xFF)};
}

// Every test ends the server and waits until its threads are gone, so none
// is cut off by the end of the process with its per-thread state held.
class Server : public ::testing::Test {
 protected:
  void TearDown() override {
    stopWSserver();
    EXPECT_TRUE(eventually([] { return serverThreads() == 0; }, 3000));
  }
};

}  // namespace

TEST_F(Server, FirstReadIsAnsweredWithThe129ByteReply) {
  const uint16_t port = startServer();
  WsClient browser, stranger;
  ASSERT_TRUE(browser.connect(port));
  ASSERT_TRUE(browser.sendHandshake());
  const std::vector<uint8_t> reply = browser.readExact(129, 2000);
  const std::string text(reply.begin(), reply.end());
  EXPECT_EQ(text.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << text;
  EXPECT_NE(text.find(std::string("Sec-WebSocket-Accept: ") + kSampleAccept + "\r\n\r\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(browser.staysQuiet(150)) << "nothing follows the reply at once";

  // Whatever comes first is taken as the request.
  ASSERT_TRUE(stranger.connect(port));
  ASSERT_TRUE(stranger.sendRaw(std::string("hello")));
  EXPECT_EQ(stranger.readExact(129, 2000).size(), 129u);
}

// A client that never completes its request gets nothing before the
// deadline, not even a ping; then its connection ends: a silent one's
// without a word, a trickling one's with a 408.
TEST_F(Server, ARequestNotInByItsDeadlineEndsTheConnection) {
  const uint16_t port = startServer();
  WsClient silent, trickling;
  ASSERT_TRUE(silent.connect(port));
  ASSERT_TRUE(trickling.connect(port));
  const int64_t start = monotonicMs();
  ASSERT_TRUE(trickling.sendRaw(std::string("GET / HTTP/1.1\r\n")));
  // A byte every 50 ms until something comes back.
  while (trickling.staysQuiet(50) && monotonicMs() - start < kRequestDeadlineMs + 1000) {
    ASSERT_TRUE(trickling.sendRaw(std::string("X")));
  }
  EXPECT_GE(monotonicMs() - start, kRequestDeadlineMs - 100) << "nothing before the deadline";
  std::string answer;
  trickling.readReply(&answer, 1500);
  EXPECT_EQ(answer.rfind("HTTP/1.1 408 Request Timeout\r\n", 0), 0u) << answer;
  EXPECT_TRUE(silent.closedByPeer(500)) << "nothing before the end";
  EXPECT_TRUE(eventually([] { return slotsTaken() == 0; }));
}

// Connections that have not sent a request hold no streaming slot: with
// many of them waiting, an upgrade still gets its 101 and a page request
// its page, and only the upgrades count as slots taken.
TEST_F(Server, PendingConnectionsHoldNoStreamingSlot) {
  const uint16_t port = startServer();
  WsClient streaming, idle[2 * kMaxClients], newcomer, page;
  ASSERT_TRUE(streaming.openStreaming(port));
  WsFrame screen;
  ASSERT_TRUE(streaming.readFrame(&screen, 1500));
  for (WsClient& peer : idle) ASSERT_TRUE(peer.connect(port));
  ASSERT_TRUE(newcomer.open(port)) << "the newcomer got its 101";
  ASSERT_TRUE(page.connect(port));
  ASSERT_TRUE(page.sendRaw(std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")));
  std::string answer;
  ASSERT_TRUE(page.readReply(&answer, 2000));
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_EQ(slotsTaken(), 2);
}

// With all five streaming slots taken, the page and every one of its files
// still load, several at once; a sixth upgrade is closed unanswered.
TEST_F(Server, ThePageLoadsWhileEverySlotStreams) {
  constexpr int kPageMs = 15000;  // generous: the machine may be busy
  const uint16_t port = startServer();
  WsClient streaming[kMaxClients], sixth;
  for (WsClient& viewer : streaming) ASSERT_TRUE(viewer.openStreaming(port));
  ASSERT_TRUE(eventually([] { return slotsTaken() == kMaxClients; }));
  // A browser opens at most six connections to one host at a time: the
  // files load in waves of six, as the page's do.
  constexpr int kBrowserConnections = 6;
  std::vector<std::thread> loads;
  std::atomic<int> loaded{0};
  for (int i = 0; i < kServedFileCount; ++i) {
    if (i % kBrowserConnections == 0) {
      for (std::thread& load : loads) load.join();
      loads.clear();
    }
    loads.emplace_back([&, i] {
      WsClient browser;
      std::string answer;
      if (browser.connect(port) &&
          browser.sendRaw(std::string("GET ") + kServedFiles[i].path +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") &&
          browser.readReply(&answer, kPageMs) && answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0) {
        loaded++;
      }
    });
  }
  for (std::thread& load : loads) load.join();
  EXPECT_EQ(loaded.load(), kServedFileCount);
  ASSERT_TRUE(sixth.connect(port));
  ASSERT_TRUE(sixth.sendHandshake());
  EXPECT_TRUE(sixth.closedByPeer(kPageMs));
}

// A raw client's pings follow only empty reads; a page's go out at once,
// however busy its socket, and its first picture right after the second pong.
TEST_F(Server, PingsFollowEmptyReadsExceptForAPage) {
  const uint16_t port = startServer();
  WsClient client;
  ASSERT_TRUE(client.open(port));
  // Frames every 150 ms keep every read from going quiet: no ping.
  for (int i = 0; i < 8; i++) {
    ASSERT_TRUE(client.sendFrame(kOpText, "x"));
    ASSERT_TRUE(client.staysQuiet(150));
  }
  // Once quiet, a ping after every empty read while it goes unanswered.
  for (int ping = 0; ping < 2; ping++) {
    const std::vector<uint8_t> bytes = client.readExact(kPingBytes, 1500);
    ASSERT_EQ(bytes, std::vector<uint8_t>(kServerPing, kServerPing + kPingBytes))
        << "ping " << ping;
  }

  WsClient page;
  std::string reply;
  ASSERT_TRUE(page.connect(port));
  ASSERT_TRUE(page.sendHandshake(kSampleKey, nullptr, kChangesProtocol));
  ASSERT_TRUE(page.readReply(&reply, 2000));
  ASSERT_TRUE(page.changesOn());
  for (const uint8_t opcode : {kOpPing, kOpPing, kOpBinary}) {
    for (int frames = 0; page.staysQuiet(150); frames++) {
      ASSERT_LT(frames, 8) << "nothing came while the page kept sending";
      ASSERT_TRUE(page.sendFrame(kOpText, "x"));
    }
    WsFrame frame;
    ASSERT_TRUE(page.readFrame(&frame, 1500));
    ASSERT_EQ(frame.opcode, opcode);
    if (opcode == kOpPing) {
      ASSERT_TRUE(page.sendFrame(kOpPong, "Hello"));
    }
  }
}

// A peer that never answers the pings, page or raw client, loses its slot
// at the exchange's deadline.
TEST_F(Server, PeerThatNeverAnswersThePingsIsClosedAtTheDeadline) {
  const uint16_t port = startServer();
  WsClient raw, page;
  ASSERT_TRUE(raw.open(port));
  ASSERT_TRUE(page.connect(port));
  ASSERT_TRUE(page.sendHandshake(kSampleKey, nullptr, kChangesProtocol));
  EXPECT_TRUE(raw.closesWithin(int(kPingExchangeMillis) + 1500));
  EXPECT_TRUE(page.closesWithin(1500));
  EXPECT_TRUE(eventually([] { return slotsTaken() == 0; }));
}

TEST_F(Server, StreamsOnlyAfterTheSecondPong) {
  const uint16_t port = startServer();
  WsClient client;
  ASSERT_TRUE(client.open(port));
  ASSERT_TRUE(client.answerPing());
  WsFrame frame;
  ASSERT_TRUE(client.readFrame(&frame, 1500));
  EXPECT_EQ(frame.opcode, kOpPing) << "a second ping comes before any screen";
  EXPECT_EQ(flagNew.load(), 0);
  ASSERT_TRUE(client.sendFrame(kOpPong, "Hello"));

  ASSERT_TRUE(client.readFrame(&frame, 1500));
  EXPECT_EQ(frame.opcode, kOpBinary);
  EXPECT_EQ(frame.payload, picture());
  EXPECT_EQ(flagNew.load(), 255);
}

TEST_F(Server, ScreenIsSentAgainOnlyAfterADrawing) {
  const uint16_t port = startServer();
  WsClient client;
  ASSERT_TRUE(client.openStreaming(port));
  WsFrame frame;
  ASSERT_TRUE(client.readFrame(&frame, 1500));
  EXPECT_TRUE(client.staysQuiet(1000)) << "unchanged picture is not sent again";

  {
    FrameLock lock;
    BMP_SetPixel(63, 47, 255, 0, 0);
  }
  ASSERT_TRUE(client.readFrame(&frame, 1500));
  EXPECT_EQ(frame.opcode, kOpBinary);
  EXPECT_EQ(frame.payload, picture());
}

// A panel's own write into BMP_DUMP under the lock: without a note it goes
// out at the slow beat, a write to an 8-bit picture's palette too; noted, at
// the next turn. The un-noted writes come first, so the noted one is made
// just after a beat and must arrive well before the next.
TEST_F(Server, DirectWritesReachTheViewerNotedOrNot) {
  const uint16_t port = startServer();
  BmpLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.bitCount = 8;
  layout.paletteBytes = 1024;
  ASSERT_EQ(loadPicture(makeBmp(layout)), kLoadOk);
  WsClient client;
  ASSERT_TRUE(client.openStreaming(port));
  WsFrame frame;
  ASSERT_TRUE(client.readFrame(&frame, 1500));
  struct Case {
    const char* what;
    bool palette;  // the write goes to palette entry 7, else to four pixels
    bool noted;
    int withinMs;
  };
  const Case cases[] = {
      {"palette, not noted", true, false, int(kWholeBeatMillis) + 1500},
      {"pixels, not noted", false, false, int(kWholeBeatMillis) + 1500},
      {"pixels, noted", false, true, 1000},
  };
  constexpr uint32_t kPaletteEntry7 = 14 + 40 + 4 * 7;
  uint8_t value = 0x10;
  for (const Case& c : cases) {
    value = uint8_t(value + 0x40);
    {
      FrameLock lock;
      if (c.palette) {
        memset(BMP_DUMP + kPaletteEntry7, value, 3);
      } else {
        memset(bmpPixelAddress(10, 20), value, 4 * bmppar.bytesPerPixel);  // four pixels of row 20
      }
      if (c.noted) bmpNoteWrite(10, 20, 4, 1);
    }
    ASSERT_TRUE(client.readFrame(&frame, c.withinMs)) << c.what;
    EXPECT_EQ(frame.opcode, kOpBinary) << c.what;
    EXPECT_EQ(frame.payload, picture()) << c.what;
  }
}

TEST_F(Server, EveryFrameOfOneReadIsActedOnInOrder) {
  const uint16_t port = startServer();
  WsClient client;
  ASSERT_TRUE(client.open(port));
  // Both pongs in one read: streaming without a single ping.
  std::vector<uint8_t> pongs = WsClient::maskedFrame(kOpPong, "Hello");
  pongs.insert(pongs.end(), pongs.begin(), pongs.end());
  ASSERT_TRUE(client.sendRaw(pongs));
  WsFrame frame;
  ASSERT_TRUE(client.readFrame(&frame, 1500));
  EXPECT_EQ(frame.opcode, kOpBinary);

  // Two reports in one read: the later one stands.
  std::vector<uint8_t> reports = WsClient::maskedFrame(kOpText, pointerReport(10, 20));
  const std::vector<uint8_t> later = WsClient::maskedFrame(kOpText, pointerReport(30, 40));
  reports.insert(reports.end(), later.begin(), later.end());
  ASSERT_TRUE(client.sendRaw(reports));
  EXPECT_TRUE(eventually([] { return mX.load() == 30 && mY.load() == 40; }));

  // A frame cut across two reads is completed by the second. The first part
  // lacks only the last byte, so it holds both lines: a server that acted on
  // the part would move the pointer within a read's quiet 0.3 s, well inside
  // the wait.
  const std::vector<uint8_t> cut = WsClient::maskedFrame(kOpText, pointerReport(50, 60));
  ASSERT_TRUE(client.sendRaw(std::vector<uint8_t>(cut.begin(), cut.end() - 1)));
  EXPECT_FALSE(eventually([] { return mX.load() != 30; }, 2000)) << "acted on a part of a frame";
  ASSERT_TRUE(client.sendRaw(std::vector<uint8_t>(cut.end() - 1, cut.end())));
  EXPECT_TRUE(eventually([] { return mX.load() == 50 && mY.load() == 60; }));
}

TEST_F(Server, EndsOnACloseFrameOrAFrameThatCanNeverFit) {
  const uint16_t port = startServer();
  WsClient closing, oversized;
  ASSERT_TRUE(closing.openStreaming(port));
  ASSERT_TRUE(oversized.open(port));
  ASSERT_TRUE(closing.sendFrame(kOpClose, statusOf(4001) + "done"));
  EXPECT_EQ(closeCode(closing), 4001) << "the close is answered with its code";
  EXPECT_TRUE(closing.closedByPeer(2000));

  // Only the header of a 5000-byte text frame: it could never be read whole.
  ASSERT_TRUE(oversized.sendRaw(
      std::vector<uint8_t>{kFinalBit | kOpText, kMaskBit | kLength16, 0x13, 0x88, 1, 2, 3, 4}));
  EXPECT_EQ(closeCode(oversized), kCloseTooBig);
  EXPECT_TRUE(oversized.closedByPeer(2000));
  EXPECT_TRUE(eventually([] { return slotsTaken() == 0; }));

  // A protocol error, on a page's connection and on a plain one.
  WsClient page, plain;
  ASSERT_TRUE(page.openStreaming(port, nullptr, kChangesProtocol));
  ASSERT_TRUE(plain.openStreaming(port));
  for (WsClient* client : {&page, &plain}) {
    ASSERT_TRUE(client->sendFrame(kOpContinuation, "stray"));
    EXPECT_EQ(closeCode(*client), kCloseProtocolError);
    EXPECT_TRUE(client->closedByPeer(2000));
  }
}

// A ping is answered with its payload, between messages: on a page's
// connection while a large picture is still being taken, and on a plain
// one; a report in fragments is joined.
TEST_F(Server, PingsAreAnsweredBetweenMessagesAndFragmentsJoined) {
  const uint16_t port = startServer();
  ASSERT_EQ(loadBlankPicture(640, 480), kLoadOk);
  WsClient page, plain;
  ASSERT_TRUE(page.connect(port));
  const int small = 65536;  // the picture goes out over many writes
  setsockopt(page.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string reply;
  ASSERT_TRUE(page.sendHandshake(kSampleKey, nullptr, kChangesProtocol));
  ASSERT_TRUE(page.readReply(&reply, 2000));
  ASSERT_TRUE(page.answerPing() && page.answerPing());
  // The whole picture follows the second pong at once; the ping meets it.
  ASSERT_TRUE(page.sendFrame(kOpPing, "while"));
  WsFrame frame;
  ASSERT_TRUE(page.readFrame(&frame, 5000));
  EXPECT_EQ(frame.opcode, kOpBinary);
  EXPECT_EQ(frame.payload, picture());
  ASSERT_TRUE(page.readFrame(&frame, 3000));
  EXPECT_EQ(frame.opcode, kOpPong);
  EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), "while");

  ASSERT_TRUE(plain.openStreaming(port));
  ASSERT_TRUE(plain.sendFrame(kOpPing, ""));
  do {
    ASSERT_TRUE(plain.readFrame(&frame, 3000));
  } while (frame.opcode == kOpBinary);
  EXPECT_EQ(frame.opcode, kOpPong);
  EXPECT_TRUE(frame.payload.empty());

  std::vector<uint8_t> fragments = WsClient::maskedFrame(kOpText, "mouse_X: 3");
  fragments[0] &= uint8_t(~kFinalBit);
  const std::vector<uint8_t> rest = WsClient::maskedFrame(kOpContinuation, "1\r\nmouse_Y: 41\r\n");
  fragments.insert(fragments.end(), rest.begin(), rest.end());
  ASSERT_TRUE(plain.sendRaw(fragments));
  EXPECT_TRUE(eventually([] { return mX.load() == 31 && mY.load() == 41; }));
}

TEST_F(Server, VanishedPeerFreesItsSlotInEveryStateAndLetsGoOfAHeldPointer) {
  const uint16_t port = startServer();
  WsClient silent, pinged, streaming;
  ASSERT_TRUE(silent.connect(port));
  ASSERT_TRUE(pinged.open(port));
  ASSERT_TRUE(streaming.openStreaming(port));
  ASSERT_TRUE(eventually([] { return slotsTaken() == 2 && pendingHeld() == 1; }));
  silent.close();
  pinged.close();
  streaming.close();
  EXPECT_TRUE(eventually([] { return slotsTaken() == 0 && pendingHeld() == 0; }));

  // A page that goes while its last report held the pointer (a pong after it
  // changes nothing) hands on a lift; one that clicked last hands on nothing.
  for (const bool held : {true, false}) {
    WsClient page;
    ASSERT_TRUE(page.openStreaming(port, nullptr, kChangesProtocol));
    const int32_t x = held ? 5 : 7;
    ASSERT_TRUE(
        page.sendFrame(kOpText, pointerReport(x, 6) + (held ? "mouse_button: down\r\n" : "")));
    ASSERT_TRUE(page.sendFrame(kOpPong, "Hello"));
    const uint8_t pressed = held ? kPointerHeld : kPointerClicked;
    ASSERT_TRUE(eventually([&] { return mX.load() == x && mButton.load() == pressed; }));
    page.close();
    ASSERT_TRUE(eventually([] { return slotsTaken() == 0; }));
    EXPECT_EQ(mButton.load(), held ? kPointerReleased : kPointerClicked) << "held " << held;
  }
}

TEST_F(Server, ClearedWorkEndsEveryConnectionAtTheEndOfItsTurn) {
  const uint16_t port = startServer();
  WsClient waiting, streaming;
  ASSERT_TRUE(waiting.connect(port));
  ASSERT_TRUE(streaming.openStreaming(port));
  WsFrame screen;
  ASSERT_TRUE(streaming.readFrame(&screen, 1500));
  ASSERT_EQ(slotsTaken(), 1);
  stopWSserver();
  EXPECT_TRUE(waiting.closedByPeer(1500)) << "no close frame before the reply";
  EXPECT_EQ(closeCode(streaming), kCloseGoingAway);
  EXPECT_TRUE(streaming.closedByPeer(1500));
  EXPECT_TRUE(eventually([] { return slotsTaken() == 0 && pendingHeld() == 0; }));
}

TEST_F(Server, SixthClientIsClosedUnanswered) {
  const uint16_t port = startServer();
  WsClient clients[5], sixth;
  for (WsClient& client : clients) ASSERT_TRUE(client.open(port));
  ASSERT_TRUE(sixth.connect(port));
  ASSERT_TRUE(sixth.sendHandshake());
  EXPECT_TRUE(sixth.closedByPeer(1500)) << "closed without a byte";
  EXPECT_EQ(slotsTaken(), 5);
  for (WsClient& client : clients) EXPECT_TRUE(client.answerPing());
}

TEST_F(Server, SlotsAreReusedLowestFirst) {
  const uint16_t port = startServer();
  WsClient clients[3], next;
  for (WsClient& client : clients) ASSERT_TRUE(client.open(port));
  EXPECT_TRUE(slotTaken(0) && slotTaken(1) && slotTaken(2) && !slotTaken(3));
  ASSERT_TRUE(clients[1].sendFrame(kOpClose, ""));
  ASSERT_TRUE(eventually([] { return !slotTaken(1); }));
  ASSERT_TRUE(next.open(port));
  EXPECT_TRUE(slotTaken(1));
  EXPECT_FALSE(slotTaken(3));
  EXPECT_EQ(slotsTaken(), 3);
}

// A client that offers compression gets it named in the reply, compressed
// messages that inflate to the exact picture, and its compressed reports are
// read; one that offers nothing gets the 129-byte reply and plain messages.
TEST_F(Server, OfferedCompressionIsUsedBothWaysAndUnofferedIsNot) {
  const uint16_t port = startServer();
  WsClient packed, plain;
  ASSERT_TRUE(packed.connect(port));
  ASSERT_TRUE(packed.sendHandshake(kSampleKey, kDeflateOffer));
  std::string reply;
  ASSERT_TRUE(packed.readReply(&reply, 2000));
  EXPECT_EQ(reply,
            std::string("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
                        "Upgrade\r\nSec-WebSocket-Accept: ") +
                kSampleAccept +
                "\r\nSec-WebSocket-Extensions: permessage-deflate; server_no_context_takeover; "
                "client_no_context_takeover\r\n\r\n");
  ASSERT_TRUE(packed.answerPing() && packed.answerPing());
  ASSERT_TRUE(plain.openStreaming(port));
  EXPECT_FALSE(plain.deflateOn());

  WsFrame frame;
  ASSERT_TRUE(packed.readFrame(&frame, 1500));
  EXPECT_TRUE(frame.compressed);
  EXPECT_EQ(frame.opcode, kOpBinary);
  EXPECT_EQ(frame.payload, picture());
  EXPECT_LT(frame.wireBytes, picture().size() / 4);
  ASSERT_TRUE(plain.readFrame(&frame, 1500));
  EXPECT_FALSE(frame.compressed);
  EXPECT_EQ(frame.payload, picture());

  // A compressed report, as a browser sends it once compression is on.
  const std::string report = pointerReport(21, 43);
  const std::vector<uint8_t> body = deflateBody(std::vector<uint8_t>(report.begin(), report.end()));
  std::vector<uint8_t> sent = WsClient::maskedFrame(kOpText, std::string(body.begin(), body.end()));
  sent[0] |= kFrameCompressed;
  ASSERT_TRUE(packed.sendRaw(sent));
  EXPECT_TRUE(eventually([] { return mX.load() == 21 && mY.load() == 43; }));

  {
    FrameLock lock;
    BMP_SetPixel(3, 4, 0, 255, 0);
  }
  ASSERT_TRUE(packed.readFrame(&frame, 1500));
  EXPECT_TRUE(frame.compressed);
  EXPECT_EQ(frame.payload, picture());
  ASSERT_TRUE(plain.readFrame(&frame, 1500));
  EXPECT_FALSE(frame.compressed);
  EXPECT_EQ(frame.payload, picture());
}

// A page that reads slowly is not queued stale versions: each message brings
// it from the version it holds to the newest, so it gets fewer messages than
// there were versions, and it ends holding exactly the picture, as a raw
// client does.
TEST_F(Server, SlowPageGetsTheUnionAndEndsExact) {
  const uint16_t port = startServer();
  constexpr int32_t kWidth = 320, kHeight = 240;
  ASSERT_EQ(loadBlankPicture(kWidth, kHeight), kLoadOk);
  Viewer raw;
  ASSERT_TRUE(raw.open(port));
  WsClient page;
  ASSERT_TRUE(page.connect(port));
  const int smallBuffer = 16384;
  setsockopt(page.fd(), SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
  ASSERT_TRUE(page.sendHandshake(kSampleKey, nullptr, kChangesProtocol));
  std::string reply;
  ASSERT_TRUE(page.readReply(&reply, 2000));
  ASSERT_TRUE(page.answerPing() && page.answerPing());
  // Versions of noise, which no message can shrink, over a quarter of the
  // rows each, every 20 ms: a page behind by a few gets their union.
  constexpr int kVersions = 40;
  std::atomic<bool> drawn{false};
  std::thread painter([&] {
    uint32_t state = 12345;
    for (int v = 0; v < kVersions; ++v) {
      const int32_t band = kHeight / 4, first = band * (v % 4);
      {
        FrameLock lock;
        for (int32_t y = first; y < first + band; ++y) {
          uint8_t* row = bmpPixelAddress(0, uint32_t(y));
          for (int32_t k = 0; k < kWidth * 3; ++k) {
            state = state * 1103515245u + 12345u;
            row[k] = uint8_t(state >> 24);
          }
        }
        bmpNoteWrite(0, first, kWidth, band);
      }
      usleep(20000);
    }
    drawn = true;
  });
  std::vector<uint8_t> held;
  int messages = 0;
  bool applied = true;
  for (const int64_t end = monotonicMs() + 20000; applied && monotonicMs() < end;) {
    if (page.staysQuiet(100)) {
      if (drawn && held == picture()) break;
      continue;
    }
    WsFrame frame;
    if (!page.readFrame(&frame, 5000)) break;
    applied = applyStreamMessage(&held, frame.payload);
    ++messages;
    usleep(useconds_t(frame.wireBytes * 4));  // about 250 KB/s
  }
  painter.join();
  EXPECT_TRUE(applied);
  const std::vector<uint8_t> final = picture();
  EXPECT_TRUE(held == final) << "the page ends holding the picture";
  EXPECT_LT(messages, kVersions);
  EXPECT_TRUE(raw.waitUntil([&](const std::vector<uint8_t>& seen) { return seen == final; }, 3000));
}

// Drawing wakes one page connection and a new version the others, whoever
// took the drawing first (here often the raw client's turn): every page
// viewer ends each step holding the picture.
TEST_F(Server, EveryPageViewerGetsEveryDrawing) {
  const uint16_t port = startServer();
  Viewer raw;
  ASSERT_TRUE(raw.open(port));
  WsClient pages[3];
  std::vector<uint8_t> held[3];
  for (int i = 0; i < 3; ++i) {
    std::string reply;
    ASSERT_TRUE(pages[i].connect(port));
    ASSERT_TRUE(pages[i].sendHandshake(kSampleKey, nullptr, kChangesProtocol));
    ASSERT_TRUE(pages[i].readReply(&reply, 2000) && pages[i].answerPing() && pages[i].answerPing());
  }
  for (int step = 0; step < 6; ++step) {
    {
      FrameLock lock;
      BMP_SetPixel(step * 7, 20, 255, uint8_t(step * 40), 0);
    }
    const std::vector<uint8_t> now = picture();
    for (int i = 0; i < 3; ++i) {
      WsFrame frame;
      while (held[i] != now) {
        ASSERT_TRUE(pages[i].readFrame(&frame, 1500)) << "page " << i << ", step " << step;
        ASSERT_TRUE(applyStreamMessage(&held[i], frame.payload));
      }
    }
    usleep(150000);
  }
}

// The control map goes only to a page that offered it: right after its
// first picture, then once after each change of a control, and not again
// while the controls stay as they are. A page that offered only the change
// stream gets the pictures alone.
TEST_F(Server, ControlMapFollowsTheFirstPictureAndEveryChangeOfAControl) {
  const uint16_t port = startServer();
  int32_t level = 50;
  buttonsINIT();
  slidersINIT();
  ASSERT_EQ(buttonCREATE(5, 5, 30, 10, "go", 200, 200, 200, 0, 0, 0, nullptr), 0);
  ASSERT_EQ(sliderCREATE(40, 5, 10, 30, 0, 100, &level, 255, 255, 255, 255, 0, 0), 0);
  ASSERT_TRUE(publishControlMap());
  const std::string sliderMap =
      R"("sliders":[{"index":0,"x":40,"y":5,"w":10,"h":30,"orientation":"vertical",)"
      R"("min":0,"max":100,"value":50}]})";
  const std::string raised =
      R"({"buttons":[{"index":0,"label":"go","x":5,"y":5,"w":30,"h":10,"pressed":false}],)" +
      sliderMap;
  const std::string pressed =
      R"({"buttons":[{"index":0,"label":"go","x":5,"y":5,"w":30,"h":10,"pressed":true}],)" +
      sliderMap;

  WsClient mapPage, changesPage;
  std::string reply;
  ASSERT_TRUE(mapPage.connect(port));
  ASSERT_TRUE(
      mapPage.sendHandshake(kSampleKey, kDeflateOffer, "panel-controls-v1, panel-changes-v1"));
  ASSERT_TRUE(mapPage.readReply(&reply, 2000) && mapPage.controlsOn() && mapPage.deflateOn());
  ASSERT_TRUE(mapPage.answerPing() && mapPage.answerPing());
  ASSERT_TRUE(changesPage.openStreaming(port, nullptr, kChangesProtocol));
  ASSERT_FALSE(changesPage.controlsOn());

  WsFrame frame;
  ASSERT_TRUE(mapPage.readFrame(&frame, 2000));
  ASSERT_EQ(frame.opcode, kOpBinary);
  std::vector<uint8_t> held = frame.payload;
  EXPECT_EQ(held, picture());
  ASSERT_TRUE(mapPage.readFrame(&frame, 2000));
  ASSERT_EQ(frame.opcode, kOpText);
  EXPECT_TRUE(frame.compressed);
  EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), raised);

  // A poll that redraws everything as it was changes no map.
  const uint32_t version = controlMapVersion();
  sliderCTRL(0, 0, 0);
  EXPECT_FALSE(publishControlMap());
  EXPECT_EQ(controlMapVersion(), version);

  // A press: its look, then one map saying so, in either order.
  pointerEventRaise(buttons.pointerEvent);
  buttonCTRL(10, 10, 0);
  ASSERT_TRUE(publishControlMap());
  wakeControlMapWatchers();
  std::vector<std::string> maps;
  const std::vector<uint8_t> pressedLook = picture();
  while (maps.empty() || held != pressedLook) {
    ASSERT_TRUE(mapPage.readFrame(&frame, 2000)) << maps.size();
    if (frame.opcode == kOpText) {
      maps.emplace_back(frame.payload.begin(), frame.payload.end());
    } else {
      ASSERT_TRUE(applyStreamMessage(&held, frame.payload));
    }
  }
  EXPECT_EQ(maps, std::vector<std::string>{pressed});

  // Nothing changed in the controls: the next message is the next drawing.
  {
    FrameLock lock;
    BMP_SetPixel(63, 47, 255, 0, 0);
  }
  ASSERT_TRUE(mapPage.readFrame(&frame, 2000));
  EXPECT_EQ(frame.opcode, kOpBinary);

  const std::vector<uint8_t> final = picture();
  std::vector<uint8_t> seen;
  while (seen != final) {
    ASSERT_TRUE(changesPage.readFrame(&frame, 2000));
    ASSERT_EQ(frame.opcode, kOpBinary);
    ASSERT_TRUE(applyStreamMessage(&seen, frame.payload));
  }
}

// A plain client's down, move and lift, 50 ms apart, fall in one quiet read:
// the slider ends at the move's value (191), not at the press's (63). The
// value is read through the control map, the one the control loop publishes.
TEST_F(Server, APlainClientsLiftInOneQuietReadWithItsMoveEndsTheDragThere) {
  const uint16_t port = startServer();
  int32_t level = 100;  // the control loop's alone until it is joined
  buttonsINIT();
  slidersINIT();
  ASSERT_EQ(sliderCREATE(10, 5, 10, 40, 0, 255, &level, 255, 255, 255, 255, 0, 0), 0);
  std::thread loop(runControlLoop, nullptr, nullptr);
  WsClient plain;
  const bool streaming = plain.openStreaming(port);
  bool sent =
      streaming && plain.sendFrame(kOpText, pointerReport(15, 15) + "mouse_button: down\r\n");
  usleep(50000);
  sent = sent && plain.sendFrame(kOpText, pointerReport(15, 35) + "mouse_button: move\r\n");
  usleep(50000);
  sent = sent && plain.sendFrame(kOpText, "mouse_button: up\r\n");
  const auto mapSays = [](const char* text) {
    char map[kControlMapSize];
    uint32_t version = 0;
    return copyControlMap(map, sizeof map, &version) > 0 && strstr(map, text) != nullptr;
  };
  const bool ended = sent && eventually([&] { return mapSays(R"("value":191})"); }, 5000);
  stopWSserver();
  loop.join();
  EXPECT_TRUE(streaming && sent);
  EXPECT_TRUE(ended) << "the slider stayed at " << level;
}
