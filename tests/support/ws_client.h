// A small WebSocket client for tests: raw bytes over loopback, every wait
// bounded. It speaks just enough of the protocol to drive the server: the
// upgrade request, masked frames, pings answered with pongs, screen frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The sample key of the protocol's worked example and its accept value.
constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

struct WsFrame {
  uint8_t opcode = 0;
  std::vector<uint8_t> payload;
};

class WsClient {
 public:
  WsClient() = default;
  ~WsClient();
  WsClient(const WsClient&) = delete;
  WsClient& operator=(const WsClient&) = delete;

  // Connects to 127.0.0.1:port, retrying until the server listens (bounded).
  bool connect(uint16_t port, int timeoutMs = 3000);
  void close();
  int fd() const { return fd_; }

  bool sendRaw(const std::vector<uint8_t>& bytes);
  bool sendRaw(const std::string& text);
  // The upgrade request with the given key.
  bool sendHandshake(const char* key = kSampleKey);
  // One masked frame (final fragment) with the given opcode and payload.
  static std::vector<uint8_t> maskedFrame(uint8_t opcode, const std::string& payload);
  bool sendFrame(uint8_t opcode, const std::string& payload);

  // Reads exactly n bytes; fewer when the time ran out or the peer closed.
  std::vector<uint8_t> readExact(size_t n, int timeoutMs);
  // Reads one whole server frame; false on a time-out or a closed peer.
  bool readFrame(WsFrame* frame, int timeoutMs);
  // True when no byte arrives within timeoutMs (and the peer has not closed).
  bool staysQuiet(int timeoutMs);
  // True when the peer closes (end of stream or reset) within timeoutMs
  // without sending anything more.
  bool closedByPeer(int timeoutMs);
  // True when the peer closes within timeoutMs; pings or pictures that arrive
  // first are read and dropped.
  bool closesWithin(int timeoutMs);

  // Connects, sends the request and reads the 129-byte reply.
  bool open(uint16_t port);
  // Reads a ping and answers it with a pong carrying its payload.
  bool answerPing(int timeoutMs = 2000);
  // open(), then both pings answered: the server streams from its next turn.
  bool openStreaming(uint16_t port);

 private:
  int fd_ = -1;
};

// A free TCP port on loopback (bound once and released).
uint16_t freePort();
