// An attacker that tries to hold the server's slots: sockets from loopback
// addresses (127.0.0.2 and up) that send nothing, send a byte a second, or
// send a login's headers and then its body a byte a second. Whenever the
// server ends one, another of its kind opens at once. It runs on a thread
// of its own until stopped or destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

struct SlotFloodCounts {
  int idle = 0;       // sockets that send nothing
  int trickle = 0;    // sockets that send a byte a second
  int login = 0;      // half-sent logins, the rest of the body a byte a second
  int addresses = 1;  // spread over 127.0.0.2 .. 127.0.0.(1 + addresses)
  // With both set: the server's address, and the attackers' IPv6 prefix
  // text, to which the host part is appended ("fd00:0:0:1::" gives
  // fd00:0:0:1::2 and up); every address must be this host's.
  const char* target = nullptr;
  const char* sourcePrefix = nullptr;
};

class SlotFlood {
 public:
  SlotFlood() = default;
  ~SlotFlood();
  SlotFlood(const SlotFlood&) = delete;
  SlotFlood& operator=(const SlotFlood&) = delete;

  // Starts keeping that many sockets of each kind open against the port.
  void start(uint16_t port, SlotFloodCounts counts);
  // Closes every socket and ends the thread.
  void stop();
  // Connections opened so far.
  int64_t opened() const { return opened_.load(); }

 private:
  void run(uint16_t port, SlotFloodCounts counts);
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<int64_t> opened_{0};
};
