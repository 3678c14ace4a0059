// The server binary as a whole: its start, its port and its stop.
#include "tools/peer/server_process.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tools/peer/ws_client.h"

namespace {

constexpr const char* kCloseLine = "== Close Client ==\n";
constexpr int kSigterm = 128 + SIGTERM;
// A generous deadline for what must come: a busy machine may be slow, never
// this slow.
constexpr int kEventMs = 20000;

}  // namespace

TEST(ServerProcess, BusyPortGivesErrorBindAndStatus253) {
  const int taken = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(taken, 1), 0);
  getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size);

  ServerProcess server;
  ASSERT_TRUE(server.startOnPort("busy", ntohs(address.sin_port)));
  EXPECT_EQ(server.waitExit(kEventMs), 253);
  EXPECT_NE(server.output().find("error bind.\n"), std::string::npos) << server.output();
  close(taken);
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
  ASSERT_TRUE(streaming.readFrame(&screen, kEventMs));

  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_TRUE(waiting.closesWithin(kEventMs));
  EXPECT_TRUE(streaming.closesWithin(kEventMs));
  EXPECT_EQ(server.waitExit(kEventMs), 0);
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
  EXPECT_EQ(server.waitExit(kEventMs), kSigterm);
}
