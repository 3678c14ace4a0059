// The slot flood: one poll loop over every socket, reopening each as soon as
// the server ends it, and sending the slow kinds their byte a second.
#include "tools/peer/slot_flood.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/peer/clock.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr uint32_t kFirstAttacker = 0x7f000002;  // 127.0.0.2
constexpr int kLoopMs = 10;
constexpr int kByteEveryMs = 1000;
constexpr char kLoginHead[] =
    "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 64\r\n\r\nkey=";

enum Kind { kIdle, kTrickle, kLogin };

struct Attacker {
  Kind kind;
  sockaddr_storage from;
  int fd = -1;
  int64_t nextByteMs = 0;
};

socklen_t sizeOf(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// The source address of the attacker numbered `index`.
sockaddr_storage sourceOf(const SlotFloodCounts& counts, int index) {
  sockaddr_storage address{};
  if (counts.sourcePrefix != nullptr) {
    char host[16];
    snprintf(host, sizeof host, "%x", index + 2);
    addressOf(std::string(counts.sourcePrefix) + host, 0, &address);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    in4->sin_family = AF_INET;
    in4->sin_addr.s_addr = htonl(kFirstAttacker + uint32_t(index));
  }
  return address;
}

// A non-blocking socket from the attacker's address, connecting to the target.
int openFrom(const sockaddr_storage& from, const sockaddr_storage& target) {
  const int fd = socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeOf(from)) != 0 ||
      (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeOf(target)) != 0 &&
       errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

SlotFlood::~SlotFlood() {
  stop();
}

void SlotFlood::start(uint16_t port, SlotFloodCounts counts) {
  stop();
  running_.store(true);
  thread_ = std::thread([this, port, counts] { run(port, counts); });
}

void SlotFlood::stop() {
  running_.store(false);
  if (thread_.joinable()) thread_.join();
}

void SlotFlood::run(uint16_t port, SlotFloodCounts counts) {
  std::vector<Attacker> attackers;
  const int spread = counts.addresses > 0 ? counts.addresses : 1;
  sockaddr_storage target{};
  addressOf(counts.target != nullptr ? counts.target : "127.0.0.1", port, &target);
  const auto add = [&](Kind kind, int count) {
    for (int i = 0; i < count; ++i) {
      attackers.push_back({kind, sourceOf(counts, int(attackers.size() % size_t(spread)))});
    }
  };
  add(kIdle, counts.idle);
  add(kTrickle, counts.trickle);
  add(kLogin, counts.login);
  std::vector<pollfd> entries(attackers.size());
  while (running_.load()) {
    const int64_t now = monotonicMs();
    for (size_t i = 0; i < attackers.size(); ++i) {
      Attacker& attacker = attackers[i];
      if (attacker.fd < 0) {
        attacker.fd = openFrom(attacker.from, target);
        if (attacker.fd < 0) continue;
        opened_.fetch_add(1);
        attacker.nextByteMs = now;
        if (attacker.kind == kLogin) {
          send(attacker.fd, kLoginHead, sizeof kLoginHead - 1, MSG_NOSIGNAL);
          attacker.nextByteMs = now + kByteEveryMs;
        }
      }
      if (attacker.kind != kIdle && now >= attacker.nextByteMs) {
        send(attacker.fd, "k", 1, MSG_NOSIGNAL);
        attacker.nextByteMs = now + kByteEveryMs;
      }
      entries[i] = {attacker.fd, POLLIN, 0};
    }
    if (poll(entries.data(), entries.size(), kLoopMs) <= 0) continue;
    for (size_t i = 0; i < attackers.size(); ++i) {
      if (entries[i].fd < 0 || entries[i].revents == 0) continue;
      // Whatever the server says, the answer ends the connection: read it
      // and open the next at once.
      char sink[512];
      const ssize_t got = recv(entries[i].fd, sink, sizeof sink, MSG_DONTWAIT);
      if (got > 0 && (entries[i].revents & (POLLHUP | POLLERR)) == 0) continue;
      close(attackers[i].fd);
      attackers[i].fd = -1;
    }
  }
  for (Attacker& attacker : attackers) {
    if (attacker.fd >= 0) close(attacker.fd);
  }
}
