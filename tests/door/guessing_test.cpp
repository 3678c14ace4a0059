// Key guessing against the real server with a key file: a wave of wrong
// keys from many loopback addresses while the owner signs in from another.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "door/guess_limit.h"
#include "door/session_cookie.h"
#include "support/test_support.h"
#include "tools/peer/server_process.h"
#include "tools/peer/ws_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kGuessers = 16;  // 127.0.0.2 and on
constexpr int kGuessThreads = 4;
constexpr int kAnswerMs = 3000;
constexpr int kWaveMostMs = 30000;   // the wave reaches the shared bucket before this
constexpr int kOwnerMostMs = 15000;  // a bound on the wait, not a timing
constexpr const char* kOwner = "127.0.1.1";
constexpr const char* kUpgrade =
    "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";

// Sends the request from the given loopback address and reads the answer
// until the server closes, the reply's blank line of a 101, or the time
// runs out; "" when no connection was made.
std::string askFrom(const std::string& source, uint16_t port, const std::string& request) {
  const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return "";
  sockaddr_in from = {};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  std::string answer;
  if (bind(sock, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
      connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      send(sock, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    const auto end = Clock::now() + std::chrono::milliseconds(kAnswerMs);
    pollfd wait = {sock, POLLIN, 0};
    char bytes[4096];
    while (Clock::now() < end && poll(&wait, 1, 100) >= 0) {
      if ((wait.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t got = recv(sock, bytes, sizeof bytes, 0);
      if (got <= 0) break;
      answer.append(bytes, size_t(got));
      if (answer.rfind("HTTP/1.1 101", 0) == 0 && answer.find("\r\n\r\n") != std::string::npos) {
        break;
      }
    }
  }
  close(sock);
  return answer;
}

std::string login(const std::string& key) {
  return "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
         std::to_string(key.size() + 4) + "\r\n\r\nkey=" + key;
}

// The session cookie a login answer sets, as "panel_session=<token>".
std::string cookieOf(const std::string& answer) {
  const size_t at = answer.find(std::string("Set-Cookie: ") + kSessionCookie + "=");
  return at == std::string::npos ? "" : answer.substr(at + 12, answer.find(';', at) - at - 12);
}

std::string upgradeWith(const std::string& cookie) {
  return std::string(kUpgrade) + "Cookie: " + cookie + "\r\n\r\n";
}

}  // namespace

TEST(Guessing, AWaveFromManyAddressesNeverKeepsTheOwnerOut) {
  const std::string keyFile = tempPath("wave-keys");
  const std::string key = makeAccessKey(keyFile);
  ASSERT_FALSE(key.empty());
  const uint16_t port = freePort();
  ServerProcess server;
  server.setEnvironment("PANEL_KEY_FILE", keyFile);
  ASSERT_TRUE(server.startOnPort("guessing_wave", port, 640, 480));
  WsClient listening;
  ASSERT_TRUE(listening.connect(port));
  std::atomic<bool> stop{false};
  std::atomic<int> checked{0};  // 401: a wrong key hashed
  std::atomic<int> limited{0};  // 429
  std::vector<std::thread> guessers;
  for (int t = 0; t < kGuessThreads; ++t) {
    guessers.emplace_back([&, t] {
      for (int round = 0; !stop.load(); ++round) {
        for (int a = t; a < kGuessers && !stop.load(); a += kGuessThreads) {
          const std::string from = "127.0.0." + std::to_string(2 + a);
          const std::string answer =
              askFrom(from, port, login("guess" + std::to_string(round) + "x" + from));
          if (answer.rfind("HTTP/1.1 401", 0) == 0) checked++;
          if (answer.rfind("HTTP/1.1 429", 0) == 0) limited++;
        }
      }
    });
  }
  const auto start = Clock::now();
  while (limited.load() == 0 && Clock::now() - start < std::chrono::milliseconds(kWaveMostMs)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The owner, from an address that has not been guessing, with the wave
  // still running: signed in, and the cookie opens the stream.
  const auto asked = Clock::now();
  std::string answer;
  int tries = 0;
  while (answer.rfind("HTTP/1.1 200", 0) != 0 &&
         Clock::now() - asked < std::chrono::milliseconds(kOwnerMostMs)) {
    answer = askFrom(kOwner, port, login(key));
    tries++;
  }
  const double waited = std::chrono::duration<double>(Clock::now() - asked).count();
  const std::string stream = askFrom(kOwner, port, upgradeWith(cookieOf(answer)));
  stop.store(true);
  for (std::thread& guesser : guessers) guesser.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  EXPECT_GT(limited.load(), 0) << "the wave never reached a limit";
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << tries << " tries\n" << answer;
  EXPECT_EQ(stream.rfind("HTTP/1.1 101", 0), 0u) << stream;
  // Each guessing address is checked at most twice before it is on record;
  // after that they share one bucket.
  const int most =
      kGuessers * kCleanStrikes + kSharedBurst + int(seconds * 1000 / kSharedRefillMs) + 1;
  EXPECT_LE(checked.load(), most);
  printf(
      "%d wrong keys checked and %d refused 429 in %.1f s; the owner signed in after %.2f s "
      "(%d tries)\n",
      checked.load(), limited.load(), seconds, waited, tries);
  ASSERT_TRUE(server.signal(SIGTERM));
  EXPECT_GE(server.waitExit(kAnswerMs * 2), 0);
  EXPECT_FALSE(sanitizerReported(server.errors())) << server.errors();
  unlink(keyFile.c_str());
}
