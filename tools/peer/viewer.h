// A well-behaved browser for tests and tools: it opens a streaming
// connection, takes in every screen frame on a thread of its own (so the
// server never finds it slow) and sends pointer reports. Every wait is
// bounded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/peer/ws_client.h"

class Viewer {
 public:
  Viewer() = default;
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // Connects, answers both pings and starts taking in pictures; with an
  // extension offer, header lines or a subprotocol list, the request carries
  // them. A viewer that agreed the change stream keeps its messages as they
  // came (latest() is then the last message, not a picture).
  bool open(uint16_t port, const char* offer = nullptr, const std::string& headers = "",
            const char* protocols = nullptr);
  void close();
  // The viewer connects from `from` to `to` (WsClient::setRoute).
  bool setRoute(const std::string& from, const std::string& to) {
    return client_.setRoute(from, to);
  }

  // Pictures received so far, and the latest of them.
  int pictures() const;
  std::vector<uint8_t> latest() const;
  // True while the server has not ended the connection.
  bool connected() const { return !ended_.load(); }
  // Waits at most timeoutMs for more than `seen` pictures.
  bool waitForPictures(int seen, int timeoutMs) const;
  // Waits at most timeoutMs for a picture that satisfies `ready` (the latest
  // is looked at whenever one arrives); false when none did.
  bool waitUntil(const std::function<bool(const std::vector<uint8_t>&)>& ready,
                 int timeoutMs) const;

  // Sends one pointer report of (x, y).
  bool report(int32_t x, int32_t y);
  // Clicks at (x, y): sends the report, waits for a picture that differs from
  // the one before, then for the picture to hold still, so the button has
  // been raised again and its action drawn. False when nothing changed
  // within timeoutMs.
  bool click(int32_t x, int32_t y, int timeoutMs);

 private:
  void takeIn();

  WsClient client_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  int count_ = 0;
  std::vector<uint8_t> latest_;
};

// Text of a pointer report, each line ended by CR LF.
std::string pointerReport(int32_t x, int32_t y);
