// Socket reads and writes with their 0.3 s waits, over a socket pair or a
// loopback connection.
#include "net/socket_io.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Lower bound of a wait that ran its full 0.3 s (poll may wake a little early
// on coarse clocks, never by this much).
constexpr auto kWaitedFully = std::chrono::milliseconds(280);

struct SocketPair {
  int ours = -1;
  int peer = -1;
  SocketPair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ours = fds[0];
    peer = fds[1];
  }
  ~SocketPair() {
    if (ours >= 0) close(ours);
    closePeer();
  }
  void closePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
  }
  void send(size_t count) {
    std::vector<uint8_t> bytes(count, 'x');
    ASSERT_EQ(::send(peer, bytes.data(), count, 0), ssize_t(count));
  }
};

template <typename F>
Clock::duration timed(F call) {
  const auto start = Clock::now();
  call();
  return Clock::now() - start;
}

// How often the calling thread went to sleep during the call: 0 for a call
// that did not wait for a quiet period, however busy the machine (being
// preempted is not going to sleep).
template <typename F>
long sleepsDuring(F call) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  call();
  getrusage(RUSAGE_THREAD, &after);
  return after.ru_nvcsw - before.ru_nvcsw;
}

}  // namespace

TEST(SocketRead, SilentPeerGivesMinusOneAfterTheWait) {
  SocketPair pair;
  uint8_t buf[1024];
  int result = 0;
  const auto took = timed([&] { result = wssRd(pair.ours, buf, sizeof buf); });
  EXPECT_EQ(result, kSocketIdle);
  EXPECT_GE(took, kWaitedFully);
}

TEST(SocketRead, SignalDuringTheWaitIsNotAnError) {
  SocketPair pair;
  struct sigaction onAlarm {};
  onAlarm.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGALRM, &onAlarm, nullptr), 0);
  ualarm(100000, 0);
  uint8_t buf[64];
  int result = 0;
  const auto took = timed([&] { result = wssRd(pair.ours, buf, sizeof buf); });
  EXPECT_EQ(result, kSocketIdle);
  EXPECT_GE(took, kWaitedFully);
  signal(SIGALRM, SIG_DFL);
}

TEST(SocketRead, FullBufferReturnsAtOnceAndTheRestWaits) {
  SocketPair pair;
  pair.send(3000);
  uint8_t buf[1024];
  int result = 0;
  EXPECT_EQ(sleepsDuring([&] { result = wssRd(pair.ours, buf, sizeof buf); }), 0);
  EXPECT_EQ(result, 1024);
  EXPECT_EQ(wssRd(pair.ours, buf, sizeof buf), 1024);
  EXPECT_EQ(wssRd(pair.ours, buf, sizeof buf), 3000 - 2048);
}

TEST(SocketRead, BytesThenCloseGiveTheBytesThenMinusOneWithPeerClosed) {
  SocketPair pair;
  pair.send(50);
  pair.closePeer();
  uint8_t buf[1024];
  uint8_t closed = 0;
  EXPECT_EQ(wssRd(pair.ours, buf, sizeof buf, &closed), 50);
  EXPECT_EQ(closed, 255);
  closed = 0;
  int result = 0;
  EXPECT_EQ(sleepsDuring([&] { result = wssRd(pair.ours, buf, sizeof buf, &closed); }), 0);
  EXPECT_EQ(result, kSocketIdle);
  EXPECT_EQ(closed, 255);
}

TEST(SocketRead, QuietPeerLeavesPeerClosedUntouched) {
  SocketPair pair;
  pair.send(10);
  uint8_t buf[1024];
  uint8_t closed = 0;
  EXPECT_EQ(wssRd(pair.ours, buf, sizeof buf, &closed), 10);
  EXPECT_EQ(closed, 0);
}

TEST(SocketRead, ResetConnectionGivesMinusTwo) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t addrLen = sizeof addr;
  ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &addrLen), 0);
  ASSERT_EQ(listen(server, 1), 0);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int accepted = accept(server, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  // Closing with a zero linger time sends a reset instead of a normal close.
  linger abort{1, 0};
  ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
  close(client);
  uint8_t buf[64];
  EXPECT_EQ(wssRd(accepted, buf, sizeof buf), kSocketError);
  close(accepted);
  close(server);
}

TEST(SocketRead, ClosedDescriptorGivesMinusTwo) {
  SocketPair pair;
  const int stale = pair.ours;
  close(stale);
  pair.ours = -1;
  uint8_t buf[16];
  EXPECT_EQ(wssRd(stale, buf, sizeof buf), kSocketError);
  EXPECT_EQ(wssWr(stale, buf, sizeof buf), kSocketError);
}

TEST(SocketReadWrite, ZeroOrNegativeLengthGivesZeroWithoutWaiting) {
  SocketPair pair;
  uint8_t buf[16] = {};
  int results[4] = {};
  EXPECT_EQ(sleepsDuring([&] {
              results[0] = wssRd(pair.ours, buf, 0);
              results[1] = wssRd(pair.ours, buf, -5);
              results[2] = wssWr(pair.ours, buf, 0);
              results[3] = wssWr(pair.ours, buf, -5);
            }),
            0);
  for (const int result : results) EXPECT_EQ(result, 0);
}

TEST(SocketWrite, WholeBufferArrives) {
  SocketPair pair;
  const uint8_t text[] = "Hello";
  EXPECT_EQ(wssWr(pair.ours, text, 5), 5);
  uint8_t got[8] = {};
  ASSERT_EQ(recv(pair.peer, got, sizeof got, 0), 5);
  EXPECT_STREQ(reinterpret_cast<char*>(got), "Hello");
}

TEST(SocketWrite, PeerThatStopsReadingGivesMinusOne) {
  SocketPair pair;
  std::vector<uint8_t> big(16 << 20, 0x42);
  int result = 0;
  auto took = timed([&] { result = wssWr(pair.ours, big.data(), int(big.size())); });
  EXPECT_EQ(result, kSocketIdle);
  EXPECT_GE(took, kWaitedFully);
  // The steady write waits for the peer to take something, for longer.
  took = timed([&] { result = wssWrSteady(pair.ours, big.data(), int(big.size())); });
  EXPECT_EQ(result, kSocketIdle);
  EXPECT_GE(took, std::chrono::milliseconds(kStalledPeerMillis));
}

// A peer that takes a little every half second, so the socket stays full
// for longer than a wait: the steady write goes on to the end.
TEST(SocketWrite, SteadyWriteOutlastsASlowPeer) {
  SocketPair pair;
  std::vector<uint8_t> big(640 << 10, 0x42);
  std::atomic<bool> written{false};
  std::thread reader([&] {
    std::vector<uint8_t> chunk(96 << 10);
    while (!written) {
      usleep(500000);
      if (recv(pair.peer, chunk.data(), chunk.size(), MSG_DONTWAIT) == 0) break;
    }
  });
  EXPECT_EQ(wssWrSteady(pair.ours, big.data(), int(big.size())), int(big.size()));
  written = true;
  reader.join();
}
