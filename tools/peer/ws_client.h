// A small WebSocket client for tests: raw bytes over loopback, every wait
// bounded. It speaks just enough of the protocol to drive the server: the
// upgrade request, masked frames, pings answered with pongs, screen frames.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

// The sample key of the protocol's worked example and its accept value.
constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

// The offer a browser makes for per-message compression.
constexpr const char* kDeflateOffer = "permessage-deflate; client_max_window_bits";

struct WsFrame {
  uint8_t opcode = 0;
  bool compressed = false;       // the first reserved bit was set
  size_t wireBytes = 0;          // header and payload as they came over the wire
  std::vector<uint8_t> payload;  // inflated when compressed
};

// Raw DEFLATE as a compressed message carries it (no four-byte tail), and
// back; false on data that does not inflate.
std::vector<uint8_t> deflateBody(const std::vector<uint8_t>& bytes);
bool inflateBody(const std::vector<uint8_t>& body, std::vector<uint8_t>* out);

// How long a client waits for a started server to listen.
constexpr int kListenWaitMs = 30000;

class WsClient {
 public:
  WsClient() = default;
  ~WsClient();
  WsClient(const WsClient&) = delete;
  WsClient& operator=(const WsClient&) = delete;

  // Connects to 127.0.0.1:port, retrying until the server listens; the bound
  // is generous, as a server started on a busy machine may be slow to listen.
  bool connect(uint16_t port, int timeoutMs = kListenWaitMs);
  // Connects to [::1]:port the same way.
  bool connectIpv6(uint16_t port, int timeoutMs = kListenWaitMs);
  // From now on connect(port) goes from the address `from` to the address
  // `to` (IPv4 or IPv6 literals, both of this host): a client on another
  // address than loopback's first. False when either is not an address.
  bool setRoute(const std::string& from, const std::string& to);
  void close();
  int fd() const { return fd_; }

  // Header lines (each ending in CR LF) every later upgrade request carries,
  // such as "Authorization: Bearer <key>\r\n".
  void setHeaders(const std::string& lines) { headers_ = lines; }
  bool sendRaw(const std::vector<uint8_t>& bytes);
  bool sendRaw(const std::string& text);
  // The upgrade request with the given key, and the extension offer when one
  // is given.
  bool sendHandshake(const char* key = kSampleKey, const char* extensions = nullptr,
                     const char* protocols = nullptr);
  // Reads the reply up to its blank line (bounded); notes whether it accepted
  // compression.
  bool readReply(std::string* reply, int timeoutMs);
  bool deflateOn() const { return deflateOn_; }
  // The reply confirmed the change stream's subprotocol, or the control
  // map's, which brings the change stream with it.
  bool changesOn() const { return changesOn_; }
  bool controlsOn() const { return controlsOn_; }
  // One masked frame (final fragment) with the given opcode and payload.
  static std::vector<uint8_t> maskedFrame(uint8_t opcode, const std::string& payload);
  // Sends one masked frame; a text or binary one compressed once compression
  // is agreed.
  bool sendFrame(uint8_t opcode, const std::string& payload);

  // Reads exactly n bytes; fewer when the time ran out or the peer closed.
  std::vector<uint8_t> readExact(size_t n, int timeoutMs);
  // From now on every read takes at most this many bytes a second on
  // average, in bursts of up to half a second's bytes, as a slow wireless
  // link delivers them (0: no limit).
  void setReadRate(double bytesPerSecond);
  // Reads one whole server frame, inflating a compressed one; false on a
  // time-out, a closed peer or a body that does not inflate.
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
  // With an extension offer, the request carries it and the reply may be
  // longer.
  // With a subprotocol list, the request offers it too.
  bool openStreaming(uint16_t port, const char* extensions = nullptr,
                     const char* protocols = nullptr);

 private:
  bool connectTo(const void* address, unsigned size, int timeoutMs);
  int fd_ = -1;
  sockaddr_storage routeFrom_{};  // family 0: no route set
  sockaddr_storage routeTo_{};
  double readRate_ = 0;
  int64_t rateStart_ = 0;  // monotonicMs when the limit was set
  double rateBytes_ = 0;   // bytes read since then
  bool changesOn_ = false;
  bool controlsOn_ = false;
  bool deflateOn_ = false;
  std::string headers_;
};

// The socket address of an IPv4 or IPv6 literal and a port; false (and
// `out` cleared) when the text is not an address.
bool addressOf(const std::string& text, uint16_t port, sockaddr_storage* out);

// A free TCP port on loopback (bound once and released).
uint16_t freePort();
