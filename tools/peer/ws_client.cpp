#include "tools/peer/ws_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "server/deflate.h"
#include "server/wire.h"
#include "tools/peer/clock.h"

namespace {

constexpr size_t kReplyBytes = 129;

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

bool addressOf(const std::string& text, uint16_t port, sockaddr_storage* out) {
  *out = {};
  auto* in4 = reinterpret_cast<sockaddr_in*>(out);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET, text.c_str(), &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    return true;
  }
  *out = {};
  return false;
}

WsClient::~WsClient() {
  close();
}

void WsClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WsClient::setRoute(const std::string& from, const std::string& to) {
  return addressOf(from, 0, &routeFrom_) && addressOf(to, 0, &routeTo_);
}

bool WsClient::connect(uint16_t port, int timeoutMs) {
  if (routeTo_.ss_family != 0) {
    sockaddr_storage to = routeTo_;
    reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(port);  // same place in both families
    return connectTo(&to, to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in),
                     timeoutMs);
  }
  const sockaddr_in address = loopback(port);
  return connectTo(&address, sizeof address, timeoutMs);
}

bool WsClient::connectIpv6(uint16_t port, int timeoutMs) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  address.sin6_port = htons(port);
  return connectTo(&address, sizeof address, timeoutMs);
}

bool WsClient::connectTo(const void* address, unsigned size, int timeoutMs) {
  close();
  const int64_t deadline = monotonicMs() + timeoutMs;
  const auto* where = static_cast<const sockaddr*>(address);
  do {
    fd_ = socket(where->sa_family, SOCK_STREAM, 0);
    const socklen_t fromSize =
        routeFrom_.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (routeFrom_.ss_family != 0 &&
        bind(fd_, reinterpret_cast<const sockaddr*>(&routeFrom_), fromSize) != 0) {
      close();
      return false;
    }
    if (::connect(fd_, where, socklen_t(size)) == 0) return true;
    close();
    usleep(20000);
  } while (monotonicMs() < deadline);
  return false;
}

bool WsClient::sendRaw(const std::vector<uint8_t>& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

bool WsClient::sendRaw(const std::string& text) {
  return sendRaw(std::vector<uint8_t>(text.begin(), text.end()));
}

bool WsClient::sendHandshake(const char* key, const char* extensions, const char* protocols) {
  std::string offer =
      extensions ? std::string("Sec-WebSocket-Extensions: ") + extensions + "\r\n" : "";
  if (protocols) offer += std::string("Sec-WebSocket-Protocol: ") + protocols + "\r\n";
  return sendRaw(std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n") +
                 "Connection: Upgrade\r\nSec-WebSocket-Key: " + key +
                 "\r\nSec-WebSocket-Version: 13\r\n" + offer + headers_ + "\r\n");
}

bool WsClient::readReply(std::string* reply, int timeoutMs) {
  reply->clear();
  while (reply->size() < 1024 && reply->find("\r\n\r\n") == std::string::npos) {
    const std::vector<uint8_t> byte = readExact(1, timeoutMs);
    if (byte.empty()) return false;
    reply->push_back(char(byte[0]));
  }
  deflateOn_ = reply->find("Sec-WebSocket-Extensions: permessage-deflate") != std::string::npos;
  controlsOn_ = reply->find("Sec-WebSocket-Protocol: panel-controls-v1\r\n") != std::string::npos;
  changesOn_ = controlsOn_ ||
               reply->find("Sec-WebSocket-Protocol: panel-changes-v1\r\n") != std::string::npos;
  return reply->size() >= kReplyBytes;
}

std::vector<uint8_t> deflateBody(const std::vector<uint8_t>& bytes) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, uLong(bytes.size())) + 16);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = uInt(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = uInt(out.size());
  deflate(&stream, Z_SYNC_FLUSH);
  out.resize(out.size() - stream.avail_out -
             kInflateTailSize);  // the empty block's tail is left off
  deflateEnd(&stream);
  return out;
}

bool inflateBody(const std::vector<uint8_t>& body, std::vector<uint8_t>* out) {
  std::vector<uint8_t> in = body;
  in.insert(in.end(), kEmptyBlockTail, kEmptyBlockTail + kInflateTailSize);
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return false;
  stream.next_in = in.data();
  stream.avail_in = uInt(in.size());
  out->clear();
  int result = Z_OK;
  while (result == Z_OK && stream.avail_in > 0) {
    uint8_t chunk[65536];
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_SYNC_FLUSH);
    out->insert(out->end(), chunk, chunk + (sizeof chunk - stream.avail_out));
  }
  inflateEnd(&stream);
  return (result == Z_OK || result == Z_STREAM_END) && stream.avail_in == 0;
}

std::vector<uint8_t> WsClient::maskedFrame(uint8_t opcode, const std::string& payload) {
  static constexpr uint8_t kMask[kMaskSize] = {0x37, 0xfa, 0x21, 0x3d};
  std::vector<uint8_t> frame{uint8_t(kFinalBit | opcode)};
  const size_t n = payload.size();
  if (n <= kMax7) {
    frame.push_back(uint8_t(kMaskBit | n));
  } else if (n <= kMax16) {
    frame.push_back(kMaskBit | kLength16);
    frame.push_back(uint8_t(n >> 8));
    frame.push_back(uint8_t(n));
  } else {
    frame.push_back(kMaskBit | kLength64);
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(uint8_t(uint64_t(n) >> shift));
  }
  frame.insert(frame.end(), kMask, kMask + kMaskSize);
  for (size_t k = 0; k < n; k++) frame.push_back(uint8_t(payload[k]) ^ kMask[k % kMaskSize]);
  return frame;
}

bool WsClient::sendFrame(uint8_t opcode, const std::string& payload) {
  // Once compression is agreed, messages go compressed, as a browser sends
  // them; control frames never are.
  if (!deflateOn_ || opcode >= kOpClose) return sendRaw(maskedFrame(opcode, payload));
  const std::vector<uint8_t> body =
      deflateBody(std::vector<uint8_t>(payload.begin(), payload.end()));
  std::vector<uint8_t> frame = maskedFrame(opcode, std::string(body.begin(), body.end()));
  frame[0] |= kFrameCompressed;
  return sendRaw(frame);
}

void WsClient::setReadRate(double bytesPerSecond) {
  readRate_ = bytesPerSecond;
  rateStart_ = monotonicMs();
  rateBytes_ = 0;
}

std::vector<uint8_t> WsClient::readExact(size_t n, int timeoutMs) {
  // At a limited rate, reads come twice a second (half a second's bytes at
  // most), as a slow wireless link delivers in bursts.
  const size_t slowChunk = std::max<size_t>(4096, size_t(readRate_ / 2));
  std::vector<uint8_t> bytes(n);
  size_t got = 0;
  const int64_t deadline = monotonicMs() + timeoutMs;
  while (got < n) {
    if (readRate_ > 0) {
      // Wait until the bytes read so far are due at the rate.
      const int64_t due = rateStart_ + int64_t(rateBytes_ * 1000.0 / readRate_);
      if (due > deadline) break;
      const int64_t early = due - monotonicMs();
      if (early > 0) usleep(useconds_t(early * 1000));
    }
    const int64_t left = deadline - monotonicMs();
    if (left <= 0) break;
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, int(left)) <= 0) break;
    const size_t most = readRate_ > 0 ? std::min(n - got, slowChunk) : n - got;
    const ssize_t r = recv(fd_, bytes.data() + got, most, 0);
    if (r <= 0) break;
    got += size_t(r);
    rateBytes_ += double(r);
  }
  bytes.resize(got);
  return bytes;
}

bool WsClient::readFrame(WsFrame* frame, int timeoutMs) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  auto left = [&] { return int(std::max<int64_t>(0, deadline - monotonicMs())); };
  std::vector<uint8_t> head = readExact(2, left());
  if (head.size() < 2) return false;
  uint64_t length = head[1] & kLengthBits;
  const size_t extra = length == kLength16 ? 2 : length == kLength64 ? 8 : 0;
  if (extra > 0) {
    std::vector<uint8_t> more = readExact(extra, left());
    if (more.size() < extra) return false;
    length = 0;
    for (uint8_t byte : more) length = (length << 8) | byte;
  }
  if (head[1] & kMaskBit) {
    if (readExact(kMaskSize, left()).size() < kMaskSize)
      return false;  // servers never mask; skip a key
  }
  frame->opcode = head[0] & kOpcodeBits;
  frame->compressed = (head[0] & kFrameCompressed) != 0;
  frame->wireBytes = 2 + extra + size_t(length);
  frame->payload = readExact(size_t(length), left());
  if (frame->payload.size() != length) return false;
  if (!frame->compressed) return true;
  std::vector<uint8_t> plain;
  if (!inflateBody(frame->payload, &plain)) return false;
  frame->payload = std::move(plain);
  return true;
}

bool WsClient::staysQuiet(int timeoutMs) {
  pollfd entry{fd_, POLLIN, 0};
  return poll(&entry, 1, timeoutMs) == 0;
}

bool WsClient::closedByPeer(int timeoutMs) {
  pollfd entry{fd_, POLLIN, 0};
  if (poll(&entry, 1, timeoutMs) <= 0) return false;
  uint8_t byte;
  return recv(fd_, &byte, 1, 0) <= 0;
}

bool WsClient::closesWithin(int timeoutMs) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  for (;;) {
    const int64_t left = deadline - monotonicMs();
    if (left <= 0) return false;
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, int(left)) <= 0) return false;
    uint8_t chunk[4096];
    if (recv(fd_, chunk, sizeof chunk, 0) <= 0) return true;
  }
}

bool WsClient::open(uint16_t port) {
  return connect(port) && sendHandshake() && readExact(kReplyBytes, 2000).size() == kReplyBytes;
}

bool WsClient::answerPing(int timeoutMs) {
  WsFrame ping;
  if (!readFrame(&ping, timeoutMs) || ping.opcode != 0x9) return false;
  return sendFrame(0xa, std::string(ping.payload.begin(), ping.payload.end()));
}

bool WsClient::openStreaming(uint16_t port, const char* extensions, const char* protocols) {
  if (!extensions && !protocols) return open(port) && answerPing() && answerPing();
  std::string reply;
  return connect(port) && sendHandshake(kSampleKey, extensions, protocols) &&
         readReply(&reply, 2000) && answerPing() && answerPing();
}

uint16_t freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}
