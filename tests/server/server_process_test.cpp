// The server binary as a whole: its start, its port and its stop.
#include "tools/peer/server_process.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "tools/peer/bmp_writer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr const char* kCloseLine = "== Close Client ==\n";
constexpr int kSigterm = 128 + SIGTERM;
constexpr int kExitWaitMs = 20000;  // generous: the machine may be busy

}  // namespace

// A failed bind names the port (and the address PANEL_LISTEN names) with the
// system's reason, after the old line and with the old status.
TEST(ServerProcess, FailedBindNamesThePortAndTheReason) {
  const int taken = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(taken, 1), 0);
  getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string busy = std::to_string(ntohs(address.sin_port));
  struct Case {
    const char* listen;  // PANEL_LISTEN, or "" for none
    std::string line;
  };
  const Case cases[] = {
      {"", "error bind.\nCannot listen on port " + busy + ": address already in use (another"},
      {"203.0.113.77", "error bind.\nCannot listen on 203.0.113.77 port " + busy +
                           ": cannot assign requested address (PANEL_LISTEN names an address"},
  };
  for (const Case& c : cases) {
    ServerProcess server;
    if (*c.listen) server.setEnvironment("PANEL_LISTEN", c.listen);
    ASSERT_TRUE(server.start("bind", makeBmp(BmpLayout{}), {"-p", busy}));
    EXPECT_EQ(server.waitExit(kExitWaitMs), 253) << c.listen;
    EXPECT_NE(server.output().find(c.line), std::string::npos) << server.output();
  }
  close(taken);
}

// A port that reads as 0 lets the system choose one, and the server says which.
TEST(ServerProcess, APortReadAsZeroIsNamedOnceChosen) {
  ServerProcess server;
  ASSERT_TRUE(server.start("zero", makeBmp(BmpLayout{}), {"-p", "abc"}));
  const std::string before = "The port asked for reads as 0: listening on port ";
  size_t at = std::string::npos;
  for (int waited = 0; at == std::string::npos && waited < kExitWaitMs; waited += 50) {
    at = server.output().find(before);
    if (at == std::string::npos) usleep(50000);
  }
  ASSERT_NE(at, std::string::npos) << server.output();
  const int port = atoi(server.output().c_str() + at + before.size());
  WsClient client;
  EXPECT_TRUE(client.open(uint16_t(port))) << port;
}

TEST(ServerProcess, OnlyTheLow16BitsOfThePortAreUsed) {
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("port", 70000));
  WsClient client;
  EXPECT_TRUE(client.open(4464));
}

TEST(ServerProcess, SigtermEndsEveryConnectionAndExitsWithStatus0) {
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("stop", port));
  WsClient waiting, streaming;
  ASSERT_TRUE(waiting.connect(port));
  ASSERT_TRUE(streaming.openStreaming(port));
  WsFrame screen;
  ASSERT_TRUE(streaming.readFrame(&screen, kExitWaitMs));

  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_TRUE(waiting.closesWithin(kExitWaitMs));
  EXPECT_TRUE(streaming.closesWithin(kExitWaitMs));
  EXPECT_EQ(server.waitExit(kExitWaitMs), 0);
  EXPECT_EQ(countOf(server.output(), kCloseLine), 2) << server.output();
}

TEST(ServerProcess, SecondSignalEndsTheProcessAtOnce) {
  const uint16_t port = freePort();
  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("twice", port));
  WsClient client;  // silent: nothing arrives until its connection ends
  ASSERT_TRUE(client.connect(port));
  ASSERT_TRUE(server.signal(SIGTERM));
  // The connection ends while main waits out its stop pause.
  ASSERT_TRUE(client.closedByPeer(1500));
  ASSERT_TRUE(server.signal(SIGTERM));
  // Not the stop sequence's 0: the second signal cut the pause short.
  EXPECT_EQ(server.waitExit(kExitWaitMs), kSigterm);
}
