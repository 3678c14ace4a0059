// Wrong keys at full speed from many source addresses against a running
// server with a key, while the owner signs in with the right key from an
// address of its own every few seconds; prints what the server checked and
// refused, how long each sign-in took, and the server's CPU.
//   panel-guess PID SERVER PORT KEY SECONDS OWNER SOURCE...
// SERVER and the sources are IPv4 or IPv6 literals, each source an address
// of this host (loopback, or a namespace's). The tool measures; it asserts
// nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/peer/proc_stats.h"
#include "tools/peer/tool_usage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 8;
constexpr int kAnswerMs = 3000;
constexpr int kOwnerEveryMs = 5000;
constexpr int kOwnerFirstMs = 3000;  // the wave has filled the record by then
constexpr int kOwnerMostMs = 30000;

struct Address {
  sockaddr_storage storage = {};
  socklen_t size = 0;
};

bool addressOf(const char* text, uint16_t port, Address* out) {
  auto* in4 = reinterpret_cast<sockaddr_in*>(&out->storage);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&out->storage);
  if (inet_pton(AF_INET, text, &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    out->size = sizeof *in4;
    return true;
  }
  if (inet_pton(AF_INET6, text, &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    out->size = sizeof *in6;
    return true;
  }
  return false;
}

// The status line's code of the answer to a login with `key` sent from
// `from`; 0 when nothing came back.
int loginStatus(const Address& from, const Address& to, const std::string& key) {
  const int sock = socket(to.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return 0;
  const std::string request =
      "POST /login HTTP/1.1\r\nHost: panel\r\nContent-Length: " + std::to_string(key.size() + 4) +
      "\r\n\r\nkey=" + key;
  char answer[16] = {};
  size_t got = 0;
  if (bind(sock, reinterpret_cast<const sockaddr*>(&from.storage), from.size) == 0 &&
      connect(sock, reinterpret_cast<const sockaddr*>(&to.storage), to.size) == 0 &&
      send(sock, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    pollfd wait = {sock, POLLIN, 0};
    while (got < 12 && poll(&wait, 1, kAnswerMs) > 0) {
      const ssize_t part = recv(sock, answer + got, 12 - got, 0);
      if (part <= 0) break;
      got += size_t(part);
    }
  }
  close(sock);
  return got == 12 ? atoi(answer + 9) : 0;
}

double cpuSeconds(pid_t pid) {
  return double(cpuTicks(pid)) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: panel-guess PID SERVER PORT KEY SECONDS OWNER SOURCE...\n"
      "Wrong keys from every SOURCE address against the server PID listening on\n"
      "SERVER:PORT for SECONDS, while OWNER signs in with KEY; prints the figures.\n";
  if (answeredHelp(argc, argv, kUsage)) return 0;
  if (argc < 8) {
    fputs(kUsage, stderr);
    return 2;
  }
  const pid_t pid = pid_t(atoi(argv[1]));
  const uint16_t port = uint16_t(atoi(argv[3]));
  const std::string key = argv[4];
  const int seconds = atoi(argv[5]);
  Address server;
  Address owner;
  std::vector<Address> sources(size_t(argc - 7));
  bool usable = addressOf(argv[2], port, &server) && addressOf(argv[6], 0, &owner);
  for (int i = 7; i < argc; ++i) usable = usable && addressOf(argv[i], 0, &sources[size_t(i - 7)]);
  if (!usable || seconds <= 0) {
    fprintf(stderr, "panel-guess: an address or the duration is not usable\n");
    return 2;
  }

  std::atomic<bool> stop{false};
  std::atomic<long> statuses[3] = {};  // 401 (a key checked), 429, anything else
  std::vector<std::thread> guessers;
  for (int t = 0; t < kThreads; ++t) {
    guessers.emplace_back([&, t] {
      for (long round = 0; !stop.load(); ++round) {
        for (size_t s = size_t(t); s < sources.size() && !stop.load(); s += kThreads) {
          const int status = loginStatus(sources[s], server, "guess" + std::to_string(round));
          statuses[status == 401 ? 0 : status == 429 ? 1 : 2]++;
        }
      }
    });
  }
  const auto start = Clock::now();
  const double cpuAtStart = cpuSeconds(pid);
  std::vector<double> signIns;
  int refusedOwner = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(kOwnerFirstMs));
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    const auto asked = Clock::now();
    int status = 0;
    while (status != 200 && Clock::now() - asked < std::chrono::milliseconds(kOwnerMostMs)) {
      status = loginStatus(owner, server, key);
      if (status != 200) refusedOwner++;
    }
    const double took = std::chrono::duration<double>(Clock::now() - asked).count();
    signIns.push_back(status == 200 ? took : -1);
    std::this_thread::sleep_until(asked + std::chrono::milliseconds(kOwnerEveryMs));
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpuSeconds(pid) - cpuAtStart;
  stop.store(true);
  for (std::thread& guesser : guessers) guesser.join();

  double longest = 0;
  int failed = 0;
  for (double took : signIns) {
    if (took < 0) failed++;
    if (took > longest) longest = took;
  }
  printf(
      "%zu sources, %.0f s: %.0f keys checked a minute (401), %.0f refused a minute (429), "
      "%.0f other answers a minute\n",
      sources.size(), wall, statuses[0].load() * 60 / wall, statuses[1].load() * 60 / wall,
      statuses[2].load() * 60 / wall);
  printf("owner: %zu sign-ins, longest %.2f s, %d not signed in within %d s, %d refused tries\n",
         signIns.size(), longest, failed, kOwnerMostMs / 1000, refusedOwner);
  printf("server CPU: %.0f %% of one core\n", 100 * cpu / wall);
  return 0;
}
