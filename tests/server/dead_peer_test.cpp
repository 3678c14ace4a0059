// Peers that vanish without a word: the server runs in one network
// namespace, its viewers in another, joined by a veth pair; with both
// viewers streaming on a still panel the link is cut (no FIN, no RST ever
// reaches the server) and both slots must come free by the peer timeout.
// Needs root and iproute2; skipped with a line saying so otherwise. The
// namespaces carry the test's process id in their names, and a run removes
// those left by runs that were killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "server/peer_timers.h"
#include "support/test_support.h"
#include "tools/peer/clock.h"
#include "tools/peer/server_process.h"
#include "tools/peer/viewer.h"

namespace {

constexpr char kPrefix[] = "panel-deadpeer-";
constexpr char kServerAddress[] = "10.31.0.1";
constexpr char kViewerAddress[] = "10.31.0.2";
constexpr int kTimeoutSeconds = 3;
constexpr int kPictureMs = 20000;
constexpr int kFoundWithinMs = 60000;  // the bound is the timeout; this is the test's patience

std::string ipProgram() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

bool run(const std::string& command) {
  std::string ignored;
  return runCommand(command + " >/dev/null 2>&1", &ignored) == 0;
}

// Removes the namespaces of runs whose process is gone.
void removeLeftovers() {
  std::string list;
  runCommand("ip netns list 2>/dev/null", &list);
  std::istringstream lines(list);
  for (std::string name; lines >> name;) {
    if (name.rfind(kPrefix, 0) != 0) continue;
    const long pid = atol(name.c_str() + sizeof kPrefix - 1);
    if (pid > 0 && kill(pid_t(pid), 0) != 0) run("ip netns del " + name);
  }
}

class VanishedPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    ip_ = ipProgram();
    if (geteuid() != 0 || ip_.empty()) {
      GTEST_SKIP() << "needs root and iproute2 to make network namespaces";
    }
    removeLeftovers();
    const std::string tag = std::to_string(getpid());
    server_ = kPrefix + tag + "-s";
    viewers_ = kPrefix + tag + "-v";
    made_ = run(ip_ + " netns add " + server_) && run(ip_ + " netns add " + viewers_);
    if (!made_ ||
        !run(ip_ + " link add s0 netns " + server_ + " type veth peer name v0 netns " + viewers_)) {
      GTEST_SKIP() << "no network namespaces could be made here";
    }
    ASSERT_TRUE(run(ip_ + " -n " + server_ + " addr add " + kServerAddress + "/24 dev s0"));
    ASSERT_TRUE(run(ip_ + " -n " + viewers_ + " addr add " + kViewerAddress + "/24 dev v0"));
    for (const std::string& ns : {server_, viewers_}) {
      ASSERT_TRUE(run(ip_ + " -n " + ns + " link set lo up"));
    }
    ASSERT_TRUE(run(ip_ + " -n " + server_ + " link set s0 up"));
    ASSERT_TRUE(run(ip_ + " -n " + viewers_ + " link set v0 up"));
  }

  void TearDown() override {
    if (!made_) return;
    run(ip_ + " netns del " + viewers_);
    run(ip_ + " netns del " + server_);
  }

  // Runs `work` on a thread inside the viewers' namespace: the sockets it
  // makes stay there.
  template <typename Work>
  void inViewers(Work work) {
    std::thread inside([&] {
      const int ns = open(("/run/netns/" + viewers_).c_str(), O_RDONLY | O_CLOEXEC);
      const bool entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
      if (ns >= 0) close(ns);
      if (entered) work();
    });
    inside.join();
  }

  std::string ip_;
  std::string server_;
  std::string viewers_;
  bool made_ = false;
};

TEST_F(VanishedPeer, ItsSlotComesFreeByThePeerTimeoutOnAStillPanel) {
  ServerProcess server(ip_);
  server.setEnvironment("PANEL_PEER_TIMEOUT", std::to_string(kTimeoutSeconds));
  BmpLayout layout;
  ASSERT_TRUE(server.start(server_, makeBmp(layout, calmBackground),
                           {"netns", "exec", server_, PANEL_SERVER_BIN, "-p", "8080"}));
  // A page's stream, which sleeps in poll, and a plain one, which reads in
  // turns: each must see its dead peer.
  Viewer page;
  Viewer plain;
  bool opened = false;
  inViewers([&] {
    opened = page.setRoute(kViewerAddress, kServerAddress) &&
             plain.setRoute(kViewerAddress, kServerAddress) &&
             page.open(8080, nullptr, "", "panel-changes-v1") && plain.open(8080);
  });
  ASSERT_TRUE(opened);
  ASSERT_TRUE(page.waitForPictures(0, kPictureMs));
  ASSERT_TRUE(plain.waitForPictures(0, kPictureMs));
  ASSERT_EQ(countOf(server.output(), "== Close Client =="), 0);

  ASSERT_TRUE(run(ip_ + " -n " + viewers_ + " link set v0 down"));
  const int64_t cut = monotonicMs();
  EXPECT_TRUE(eventually([&] { return countOf(server.output(), "== Close Client ==") == 2; },
                         kFoundWithinMs, 100))
      << server.output();
  printf("both vanished peers' slots came free %.1f s after the cut (timeout %d s)\n",
         double(monotonicMs() - cut) / 1000, kTimeoutSeconds);
  page.close();
  plain.close();
  EXPECT_FALSE(sanitizerReported(server.errors())) << server.errors();
}

// The probes end by the timeout, and a peer gets several before it is
// given up, however short the timeout.
TEST(PeerTimers, ProbesEndByTheTimeout) {
  for (int timeout : {kPeerTimeoutLeast, 4, 10, kPeerTimeoutSeconds, 61, kPeerTimeoutMost}) {
    const PeerTimers timers = peerTimersFor(timeout);
    EXPECT_GE(timers.idle, 1) << timeout;
    EXPECT_GE(timers.interval, 1) << timeout;
    EXPECT_GE(timers.probes, 2) << timeout;
    EXPECT_LE(timers.idle + timers.interval * timers.probes, timeout) << timeout;
    EXPECT_GT(timers.idle + timers.interval * (timers.probes + 1), timeout) << timeout;
  }
}

TEST(PeerTimers, OnlyWholeSecondsInRangeAreASetting) {
  const struct {
    const char* value;
    int result;
  } cases[] = {{"", 0},
               {"3", 0},
               {"0050", 0},
               {"3600", 0},
               {"2", kPeerTimeoutBad},
               {"3601", kPeerTimeoutBad},
               {"-5", kPeerTimeoutBad},
               {"5s", kPeerTimeoutBad},
               {"99999", kPeerTimeoutBad},
               {" 9", kPeerTimeoutBad}};
  for (const auto& each : cases) {
    setenv("PANEL_PEER_TIMEOUT", each.value, 1);
    EXPECT_EQ(readPeerTimeoutSetting(), each.result) << '"' << each.value << '"';
  }
  unsetenv("PANEL_PEER_TIMEOUT");
}

}  // namespace
