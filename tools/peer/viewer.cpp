#include "tools/peer/viewer.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

#include "base/clock.h"
#include "server/wire.h"

namespace {

constexpr int kLookMs = 100;     // how often the reader looks at its stop flag
constexpr int kFrameMs = 20000;  // a frame that has begun arrives whole within this
constexpr int kStillMs = 1000;   // no new picture for this long: the panel is at rest

}  // namespace

std::string pointerReport(int32_t x, int32_t y) {
  return "mouse_X: " + std::to_string(x) + "\r\nmouse_Y: " + std::to_string(y) + "\r\n";
}

Viewer::~Viewer() {
  close();
}

bool Viewer::open(uint16_t port, const char* offer, const std::string& headers,
                  const char* protocols) {
  close();
  stop_ = false;
  ended_ = false;
  client_.setHeaders(headers);
  if (!client_.openStreaming(port, offer, protocols)) return false;
  reader_ = std::thread([this] { takeIn(); });
  return true;
}

void Viewer::close() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  client_.close();
}

void Viewer::takeIn() {
  while (!stop_) {
    pollfd entry{client_.fd(), POLLIN, 0};
    const int ready = poll(&entry, 1, kLookMs);
    if (ready == 0) continue;
    WsFrame frame;
    if (ready < 0 || !client_.readFrame(&frame, kFrameMs)) break;
    if (frame.opcode != kOpBinary) continue;
    {
      std::lock_guard<std::mutex> hold(lock_);
      latest_ = std::move(frame.payload);
      count_++;
    }
    arrived_.notify_all();
  }
  ended_ = !stop_;
  arrived_.notify_all();
}

int Viewer::pictures() const {
  std::lock_guard<std::mutex> hold(lock_);
  return count_;
}

std::vector<uint8_t> Viewer::latest() const {
  std::lock_guard<std::mutex> hold(lock_);
  return latest_;
}

bool Viewer::waitForPictures(int seen, int timeoutMs) const {
  std::unique_lock<std::mutex> hold(lock_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return count_ > seen; });
}

bool Viewer::waitUntil(const std::function<bool(const std::vector<uint8_t>&)>& ready,
                       int timeoutMs) const {
  std::unique_lock<std::mutex> hold(lock_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return count_ > 0 && ready(latest_); });
}

bool Viewer::report(int32_t x, int32_t y) {
  return client_.sendFrame(kOpText, pointerReport(x, y));
}

bool Viewer::click(int32_t x, int32_t y, int timeoutMs) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  const auto left = [&] {
    return std::chrono::milliseconds(std::max<int64_t>(0, deadline - monotonicMs()));
  };
  std::unique_lock<std::mutex> hold(lock_);
  const std::vector<uint8_t> before = latest_;
  hold.unlock();
  if (!report(x, y)) return false;
  hold.lock();
  if (!arrived_.wait_for(hold, left(), [&] { return latest_ != before; })) return false;
  // Then at rest: the raised look and the action's drawing have come in.
  for (int seen = count_; monotonicMs() < deadline; seen = count_) {
    if (!arrived_.wait_for(hold, std::chrono::milliseconds(kStillMs),
                           [&] { return count_ > seen; })) {
      break;
    }
  }
  return true;
}
