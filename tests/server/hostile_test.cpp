// Hostile peers against the running server (the sanitizer-built one in the
// sanitizer builds): lengths that lie, buffers filled with no line end, very
// long header lines, random bytes, peers that vanish mid-frame or stop
// reading, more connections than slots, and (with an access key) wrong keys
// in waves. Throughout, one well-behaved
// viewer keeps receiving the picture and its clicks keep pressing a panel
// button; afterwards the server holds no more descriptors or threads than
// before and has printed no sanitizer report.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/pending.h"
#include "server/wire.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"
#include "tools/peer/proc_stats.h"
#include "tools/peer/server_process.h"
#include "tools/peer/slot_flood.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The "circle" button of the panel and the "clear" button, on one row.
constexpr int32_t kCircleX = 50, kClearX = 500, kButtonY = 20;
constexpr int kClickMs = 5000;
constexpr int kClickAttempts = 3;
constexpr int kSettleMs = 6000;
constexpr int kReplyBytes = 129;
constexpr int kFreeSlots = 4;  // five, less the viewer's

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = freePort();
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // A keyed suite runs the server with a key; the viewer holds the right one.
    std::string credentials;
    if (keyed()) {
      keyFile_ = tempPath(name + "-keys");
      key_ = makeAccessKey(keyFile_);
      credentials = "Authorization: Bearer " + key_ + "\r\n";
      setenv("PANEL_KEY_FILE", keyFile_.c_str(), 1);
    }
    ASSERT_TRUE(server_.startOnPort(name, port_, 640, 480));
    unsetenv("PANEL_KEY_FILE");
    ASSERT_TRUE(viewer_.open(port_, nullptr, credentials));
    ASSERT_TRUE(viewer_.waitForPictures(0, kClickMs));
    baseline_ = processCounts(server_.pid());
    ASSERT_GT(baseline_.descriptors, 0);
  }

  // A click on the panel that must change the picture the viewer sees. The
  // "circle" and "clear" buttons take turns, so every click changes it. A
  // streaming peer's frame replaces the shared pointer position, so one
  // still sending may take a report's place before the control loop sees
  // it: the click is tried up to three times.
  void expectClickWorks() {
    EXPECT_TRUE(viewer_.connected());
    const int32_t x = circleNext_ ? kCircleX : kClearX;
    circleNext_ = !circleNext_;
    bool changed = false;
    for (int attempt = 0; attempt < kClickAttempts && !changed; ++attempt) {
      changed = viewer_.click(x, kButtonY, kClickMs);
    }
    EXPECT_TRUE(changed) << "the click at " << x << "," << kButtonY << " changed nothing";
  }

  // Every hostile connection is gone: descriptors and threads are back to
  // where they were, the viewer still works, and the server, stopped, has
  // reported nothing on its error stream.
  void expectUnharmed() {
    ProcessCounts seen{};
    EXPECT_TRUE(settlesTo(server_.pid(), baseline_, kSettleMs, &seen))
        << "descriptors " << seen.descriptors << " (were " << baseline_.descriptors << "), threads "
        << seen.threads << " (were " << baseline_.threads << ")";
    expectClickWorks();
    viewer_.close();
    ASSERT_TRUE(server_.signal(SIGTERM));
    EXPECT_GE(server_.waitExit(kSettleMs), 0);
    const std::string errors = server_.errors();
    EXPECT_FALSE(sanitizerReported(errors)) << errors;
  }

  // A peer whose handshake has been answered (it then ignores the pings).
  std::unique_ptr<WsClient> answered() {
    auto peer = std::make_unique<WsClient>();
    EXPECT_TRUE(peer->open(port_));
    return peer;
  }

  // A peer in the streaming state.
  std::unique_ptr<WsClient> streaming() {
    auto peer = std::make_unique<WsClient>();
    EXPECT_TRUE(peer->openStreaming(port_));
    return peer;
  }

  void TearDown() override {
    if (!keyFile_.empty()) unlink(keyFile_.c_str());
  }

  // True for a suite whose server needs an access key.
  virtual bool keyed() const { return false; }

  uint16_t port_ = 0;
  std::string keyFile_;
  std::string key_;  // the control key of a keyed suite
  ServerProcess server_;
  Viewer viewer_;
  ProcessCounts baseline_{};
  bool circleNext_ = true;
};

// The same hostile peers against a server with an access key.
class HostileWithKey : public Hostile {
 protected:
  bool keyed() const override { return true; }
};

// The header of a masked text frame announcing `length` bytes in the 16-bit
// or 64-bit form, with its masking key; the payload is left to the caller.
Bytes lyingHeader(uint64_t length, bool wide) {
  Bytes bytes{kFinalBit | kOpText};
  if (wide) {
    bytes.push_back(kMaskBit | kLength64);
    for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(length >> shift));
  } else {
    bytes.insert(bytes.end(), {kMaskBit | kLength16, uint8_t(length >> 8), uint8_t(length)});
  }
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  return bytes;
}

Bytes randomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = uint8_t(generator());
  return bytes;
}

// Drops the connection with a reset instead of an orderly close.
void reset(WsClient& peer) {
  const linger abort{1, 0};
  setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  peer.close();
}

}  // namespace

TEST_F(Hostile, FramesAnnouncingMoreThanTheBufferHoldsEndTheirConnection) {
  // 16-bit lengths past the receive buffer, and 64-bit lengths up to 2^64 - 1:
  // none can ever arrive whole, so the server ends the connection.
  const std::vector<std::pair<uint64_t, bool>> lies = {
      {1017, false},      {kMax16, false},           {0, true},
      {kMax16 + 1, true}, {uint64_t(1) << 63, true}, {~uint64_t(0), true},
  };
  for (size_t first = 0; first < lies.size(); first += kFreeSlots) {
    std::vector<std::unique_ptr<WsClient>> peers;
    for (size_t i = first; i < lies.size() && i < first + kFreeSlots; ++i) {
      peers.push_back(i % 2 ? streaming() : answered());
      Bytes bytes = lyingHeader(lies[i].first, lies[i].second);
      const Bytes tail = randomBytes(40, uint32_t(i));
      bytes.insert(bytes.end(), tail.begin(), tail.end());
      EXPECT_TRUE(peers.back()->sendRaw(bytes));
    }
    for (size_t i = 0; i < peers.size(); ++i) {
      EXPECT_TRUE(peers[i]->closesWithin(3000))
          << "length " << lies[first + i].first << " was kept open";
    }
    expectClickWorks();
  }
  // A length that fits, but whose bytes never come: the peer vanishes.
  auto waiting = streaming();
  Bytes partial = lyingHeader(1000, false);
  partial.resize(partial.size() + 10, 'x');
  EXPECT_TRUE(waiting->sendRaw(partial));
  expectClickWorks();
  waiting->close();
  expectUnharmed();
}

TEST_F(Hostile, LongLinesAndFullBuffersWithoutLineEndsAreAnswered) {
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  // Each first read and the status line it gets.
  const std::vector<std::pair<std::string, std::string>> firstReads = {
      // A key line of thousands of characters with no line end: the key
      // is cut, so no browser could use the reply; answered as before.
      {request + "Sec-WebSocket-Key: " + std::string(5000, 'k'),
       "HTTP/1.1 101 Switching Protocols\r\n"},
      // A header line longer than a request head may be, ended, then a real
      // key: the head as read shows a GET with no sign of an upgrade.
      {request + "X-Filler: " + std::string(kRequestHeadMost, 'f') +
           "\r\nSec-WebSocket-Key: " + kSampleKey + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large\r\n"},
      // Exactly a full request buffer: no terminating zero, no line end.
      {std::string(kRequestHeadMost, 'S'), "HTTP/1.1 101 Switching Protocols\r\n"},
  };
  std::vector<std::unique_ptr<WsClient>> peers;
  for (const auto& [text, answer] : firstReads) {
    peers.push_back(std::make_unique<WsClient>());
    ASSERT_TRUE(peers.back()->connect(port_));
    EXPECT_TRUE(peers.back()->sendRaw(text));
  }
  for (size_t i = 0; i < peers.size(); ++i) {
    const std::string& answer = firstReads[i].second;
    const Bytes reply = peers[i]->readExact(answer.size(), 3000);
    const std::string text(reply.begin(), reply.end());
    EXPECT_EQ(text, answer);
  }
  // Streaming: payloads that fill the buffers with a key and no line end.
  auto filler = streaming();
  EXPECT_TRUE(filler->sendFrame(kOpText, "mouse_X: " + std::string(1007, '1')));
  EXPECT_TRUE(filler->sendFrame(kOpText, std::string(1016, 'm')));
  EXPECT_TRUE(filler->sendFrame(kOpText, "mouse_Y: " + std::string(120, '9') + "\r"));
  expectClickWorks();
  for (auto& peer : peers) peer->close();
  filler->close();
  expectUnharmed();
}

TEST_F(Hostile, RandomBytesBeforeAndAfterTheHandshakeAreSurvived) {
  std::vector<std::unique_ptr<WsClient>> peers;
  // Before: the first read is answered as the request, the rest is frames.
  peers.push_back(std::make_unique<WsClient>());
  ASSERT_TRUE(peers.back()->connect(port_));
  peers.back()->sendRaw(randomBytes(3000, 1));
  // After the reply, during the ping exchange, and while streaming.
  peers.push_back(answered());
  peers.back()->sendRaw(randomBytes(4000, 2));
  peers.push_back(streaming());
  peers.back()->sendRaw(randomBytes(6000, 3));
  peers.push_back(streaming());
  for (uint32_t seed = 4; seed < 12; ++seed) {
    // The server may end the connection on any of these: a send may fail.
    peers.back()->sendRaw(randomBytes(700, seed));
  }
  expectClickWorks();
  for (auto& peer : peers) peer->close();
  expectUnharmed();
}

TEST_F(Hostile, PeersThatVanishMidFrameOrMidHandshakeAreCleanedUp) {
  const Bytes frame = WsClient::maskedFrame(kOpText, pointerReport(kCircleX, kButtonY) + "xxxx");
  const Bytes half(frame.begin(), frame.begin() + long(frame.size() / 2));
  const std::string request = "GET / HTTP/1.1\r\nSec-WebSocket-Key: ";
  for (int round = 0; round < 2; ++round) {
    auto midFrame = streaming();
    EXPECT_TRUE(midFrame->sendRaw(half));
    auto midFrameReset = streaming();
    EXPECT_TRUE(midFrameReset->sendRaw(Bytes(frame.begin(), frame.begin() + 3)));
    auto midHandshake = std::make_unique<WsClient>();
    ASSERT_TRUE(midHandshake->connect(port_));
    EXPECT_TRUE(midHandshake->sendRaw(request));
    auto beforePong = answered();
    usleep(200000);
    midFrame->close();
    reset(*midFrameReset);
    reset(*midHandshake);
    beforePong->close();
    // Peers that connect and leave at once.
    for (int i = 0; i < 3; ++i) {
      WsClient gone;
      ASSERT_TRUE(gone.connect(port_));
    }
    expectClickWorks();
  }
  expectUnharmed();
}

TEST_F(Hostile, PeersThatStopReadingAreDroppedWhileTheViewerKeepsUp) {
  std::vector<std::unique_ptr<WsClient>> stalled;
  for (int i = 0; i < 2; ++i) {
    stalled.push_back(streaming());
    const int small = 4096;
    setsockopt(stalled.back()->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  // Each click changes the picture twice; the stalled peers read none of it.
  const int before = viewer_.pictures();
  for (int i = 0; i < 4; ++i) expectClickWorks();
  EXPECT_GE(viewer_.pictures(), before + 4);
  // The server gave up on both while they still hold their sockets open.
  ProcessCounts seen{};
  EXPECT_TRUE(settlesTo(server_.pid(), baseline_, kSettleMs, &seen))
      << "descriptors " << seen.descriptors << ", threads " << seen.threads;
  stalled.clear();
  expectUnharmed();
}

TEST_F(Hostile, MoreConnectionsThanSlotsAreRefusedAndSlotsComeBack) {
  for (int wave = 0; wave < 2; ++wave) {
    constexpr int kAttempts = 8;
    std::vector<std::unique_ptr<WsClient>> peers(kAttempts);
    std::vector<int> answeredBytes(kAttempts, 0);
    std::vector<std::thread> attempts;
    for (int i = 0; i < kAttempts; ++i) {
      attempts.emplace_back([&, i] {
        peers[i] = std::make_unique<WsClient>();
        if (peers[i]->connect(port_) && peers[i]->sendHandshake()) {
          answeredBytes[i] = int(peers[i]->readExact(kReplyBytes, 4000).size());
        }
      });
    }
    for (std::thread& attempt : attempts) attempt.join();
    int served = 0;
    for (int bytes : answeredBytes) served += bytes == kReplyBytes ? 1 : 0;
    EXPECT_EQ(served, kFreeSlots) << "wave " << wave;
    expectClickWorks();
    peers.clear();
    ProcessCounts seen{};
    EXPECT_TRUE(settlesTo(server_.pid(), baseline_, kSettleMs, &seen))
        << "wave " << wave << ": descriptors " << seen.descriptors << ", threads " << seen.threads;
  }
  expectUnharmed();
}

TEST_F(Hostile, RefusedUpgradesAndPageRequestsKeepNoSlot) {
  // Upgrades from other sites' pages, by every way round the origin check,
  // and plain page requests: each is answered and ended at once, so twice as
  // many as there are slots, in waves, leave every slot free.
  const std::string own = "127.0.0.1:" + std::to_string(port_);
  const std::string upgrade = std::string("GET / HTTP/1.1\r\nUpgrade: websocket\r\n") +
                              "Connection: Upgrade\r\nSec-WebSocket-Key: " + kSampleKey + "\r\n";
  const std::vector<std::pair<std::string, std::string>> attempts = {
      {upgrade + "Host: " + own + "\r\nOrigin: http://127.0.0.1:1\r\n\r\n", "403"},
      {upgrade + "Host: rebound.example\r\nOrigin: http://rebound.example\r\n\r\n", "403"},
      {upgrade + "Host: " + own + "\r\nOrigin: http://" + own + "\r\nOrigin: null\r\n\r\n", "403"},
      {upgrade + "X-Pad: " + std::string(kRequestHeadMost, 'p') + "\r\n\r\n", "403"},
      {"GET / HTTP/1.1\r\nHost: " + own + "\r\n\r\n", "200"},
      {"GET /nothing HTTP/1.1\r\n\r\n", "404"},
      {"PUT / HTTP/1.1\r\nContent-Length: 3000\r\n\r\n" + std::string(3000, 'b'), "405"},
      {"GET / HTTP/1.1\r\nCookie: " + std::string(kRequestHeadMost, 'c') + "\r\n\r\n", "431"},
  };
  for (size_t first = 0; first < attempts.size(); first += kFreeSlots) {
    std::vector<std::unique_ptr<WsClient>> peers;
    for (size_t i = first; i < attempts.size() && i < first + kFreeSlots; ++i) {
      peers.push_back(std::make_unique<WsClient>());
      ASSERT_TRUE(peers.back()->connect(port_));
      EXPECT_TRUE(peers.back()->sendRaw(attempts[i].first));
    }
    for (size_t i = 0; i < peers.size(); ++i) {
      const std::string status = "HTTP/1.1 " + attempts[first + i].second;
      const Bytes head = peers[i]->readExact(status.size(), 3000);
      EXPECT_EQ(std::string(head.begin(), head.end()), status) << "attempt " << first + i;
      EXPECT_TRUE(peers[i]->closesWithin(3000)) << "attempt " << first + i << " was kept open";
    }
  }
  EXPECT_EQ(countOf(server_.output(), "Refused a connection: "), 4) << server_.output();
  // Every slot is free again: four handshakes are answered at once.
  std::vector<std::unique_ptr<WsClient>> after;
  for (int i = 0; i < kFreeSlots; ++i) {
    after.push_back(std::make_unique<WsClient>());
    EXPECT_TRUE(after.back()->open(port_)) << "slot " << i;
  }
  expectClickWorks();
  after.clear();
  expectUnharmed();
}

TEST_F(Hostile, ReservedBitsAndBadCompressedBodiesEndTheirConnection) {
  const std::string report = "mouse_X: 1\r\nmouse_Y: 1\r\n";
  const Bytes good = deflateBody(Bytes(report.begin(), report.end()));
  const Bytes huge = deflateBody(Bytes(5000, 'm'));
  struct Case {
    const char* what;
    bool offer;
    uint8_t first;
    Bytes body;
  };
  const std::vector<Case> cases = {
      {"compressed without agreement", false, kFinalBit | kFrameCompressed | kOpText, good},
      {"second reserved bit", true, kFinalBit | kReserved2 | kOpText, good},
      {"third reserved bit", true, kFinalBit | kReserved3 | kOpText, good},
      {"not deflate", true, kFinalBit | kFrameCompressed | kOpText, randomBytes(60, 3)},
      {"inflates past the receive bound", true, kFinalBit | kFrameCompressed | kOpText, huge},
      {"compressed pong cut short", true, kFinalBit | kFrameCompressed | kOpPong,
       Bytes(good.begin(), good.begin() + 3)},
  };
  for (size_t first = 0; first < cases.size(); first += kFreeSlots) {
    std::vector<std::unique_ptr<WsClient>> peers;
    for (size_t i = first; i < cases.size() && i < first + kFreeSlots; ++i) {
      const Case& c = cases[i];
      peers.push_back(std::make_unique<WsClient>());
      ASSERT_TRUE(peers.back()->openStreaming(port_, c.offer ? kDeflateOffer : nullptr));
      EXPECT_EQ(peers.back()->deflateOn(), c.offer) << c.what;
      Bytes frame = WsClient::maskedFrame(kOpText, std::string(c.body.begin(), c.body.end()));
      frame[0] = c.first;
      EXPECT_TRUE(peers.back()->sendRaw(frame));
    }
    for (size_t i = 0; i < peers.size(); ++i) {
      EXPECT_TRUE(peers[i]->closesWithin(3000)) << cases[first + i].what << " was kept open";
    }
    expectClickWorks();
  }
  expectUnharmed();
}

TEST_F(HostileWithKey, WrongKeysInWavesAreRefusedWhileTheViewerKeepsControl) {
  const std::string upgrade =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: " +
      std::string(kSampleKey) + "\r\nSec-WebSocket-Version: 13\r\n";
  const std::string post = "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: ";
  // Four peers a wave, one slot each: a wrong Bearer key, a wrong login, a
  // login whose body never comes, and a lying length or a forged cookie.
  for (int wave = 0; wave < 3; ++wave) {
    const std::string guess = "guess" + std::to_string(wave);
    const std::vector<std::string> requests = {
        upgrade + "Authorization: Bearer " + guess + "\r\n\r\n",
        post + std::to_string(4 + guess.size()) + "\r\n\r\nkey=" + guess,
        post + "60\r\n\r\nkey=",
        wave % 2
            ? post + "99999999999999999999\r\n\r\n"
            : upgrade + "Cookie: panel_session=" + std::string(71, char('A' + wave)) + "\r\n\r\n",
    };
    std::vector<std::unique_ptr<WsClient>> peers;
    for (const std::string& request : requests) {
      peers.push_back(std::make_unique<WsClient>());
      ASSERT_TRUE(peers.back()->connect(port_));
      EXPECT_TRUE(peers.back()->sendRaw(request));
    }
    for (size_t i = 0; i < peers.size(); ++i) {
      const Bytes status = peers[i]->readExact(12, 5000);
      const std::string line(status.begin(), status.end());
      EXPECT_TRUE(line == "HTTP/1.1 401" || line == "HTTP/1.1 429" || line == "HTTP/1.1 408" ||
                  line == "HTTP/1.1 413")
          << "wave " << wave << ", peer " << i << ": " << line;
      EXPECT_TRUE(peers[i]->closesWithin(3000));
    }
    expectClickWorks();
  }
  EXPECT_GE(countOf(server_.output(), "too many wrong keys"), 1) << server_.output();
  expectUnharmed();
}

// Sockets that never finish their request (silent ones, a byte a second,
// logins whose body trickles in) keep every free slot busy, reopening as
// soon as the server ends one; the owner's signed-in browser still gets in
// every time, and the viewer keeps control.
TEST_F(HostileWithKey, ASlotFloodNeverKeepsTheSignedInOwnerOut) {
  WsClient login;
  ASSERT_TRUE(login.connect(port_));
  const std::string body = "key=" + key_;
  ASSERT_TRUE(login.sendRaw("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body));
  std::string answer;
  login.readReply(&answer, 4000);
  const size_t at = answer.find("Set-Cookie: ");
  ASSERT_NE(at, std::string::npos) << answer;
  const std::string cookie = answer.substr(at + 12, answer.find(';', at) - at - 12);

  SlotFlood flood;
  flood.start(port_, {4, 4, 4});
  // Each visit either gets its picture or is pushed out: a generous wait
  // tells the two apart however slow the machine, without counting what
  // happens within a time.
  constexpr int kOwnerVisits = 4;
  constexpr int kOwnerWaitMs = 30000;
  int inAtOnce = 0;
  for (int visit = 0; visit < kOwnerVisits; ++visit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Viewer owner;
    if (owner.open(port_, nullptr, "Cookie: " + cookie + "\r\n") &&
        owner.waitForPictures(0, kOwnerWaitMs)) {
      ++inAtOnce;
    }
  }
  EXPECT_EQ(inAtOnce, kOwnerVisits) << "owner visits that got their picture";
  EXPECT_TRUE(eventually([&] { return flood.opened() > 12; }, kOwnerWaitMs))
      << "the flood reopened what the server ended";
  expectClickWorks();
  flood.stop();
  expectUnharmed();
}
