// Measures the server under streaming clients.
//   panel-load idle <pid> <port> [seconds] [plain|deflate|page]
//     five streaming clients on the running server <pid>, the picture left
//     unchanged: the server's CPU use over the period and its resident memory.
//     The clients offer nothing (plain), compression, or what the page offers.
//   panel-load clicks <pid> <port> [clients] [clicks] [idle-seconds] [offer]
//     one to five streaming clients (five by default): the idle figures
//     first (CPU, memory and the server threads' wake-ups a second), then
//     the first client clicks the panel's "clear" and "circle" buttons in
//     turn (20 clicks by default): the time from each pointer report to the
//     frame that shows the press and the action at every client, how many
//     presses each client was sent, the bytes delivered, and the server's
//     CPU use and memory while it streams. The clients offer nothing
//     (plain, the default), compression (deflate), what the page offers
//     (page), or the last one nothing and the others what the page offers
//     (mixed).
//   panel-load relay <pid> <port> [clicks] [bytes-per-second]
//     five streaming clients behind a relay in this tool that limits the
//     whole link, all connections together, to 2 MB/s (a token bucket, the
//     way a device's shared Wi-Fi limits it): the clicks of the "clicks" mode
//     with page viewers (the change stream, applied here, and compression),
//     then with clients that offer compression, then with clients that offer
//     nothing, in one run.
//   panel-load slow <pid> <port> <bytes-per-second> [seconds]
//     a page viewer and a plain client, each reading no more than the
//     given bytes a second from its socket, beside a page viewer that
//     clicks the panel once a second for `seconds` (60 by default): the
//     time to each slow viewer's first picture, whether it is still
//     connected when the clicks end, and whether it then comes to hold the
//     clicking viewer's picture.
//   panel-load script <port>
//     the demonstration panel's click script pressed by a page viewer while
//     a compressed whole-picture viewer watches: the bytes each received.
//   panel-load latency [rounds]
//     the server in this process with one streaming client: the time from a
//     drawing call to the whole screen frame at the client.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "graphics/framebuffer.h"
#include "server/changes.h"
#include "server/listener.h"
#include "server/records.h"
#include "tools/peer/bmp_writer.h"
#include "tools/peer/change_viewer.h"
#include "tools/peer/clock.h"
#include "tools/peer/proc_stats.h"
#include "tools/peer/tool_usage.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kClients = 5;

std::string statusLine(int pid, const std::string& key) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(key, 0) == 0) return line;
  }
  return key + " ?";
}

// Voluntary context switches of all the process's threads together: each is
// a thread going to sleep, so each is one wake-up after it.
long wakeUps(int pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* folder = opendir(tasks.c_str());
  if (folder == nullptr) return -1;
  long total = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream file(tasks + "/" + entry->d_name + "/status");
    for (std::string line; std::getline(file, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += atol(line.c_str() + 24);
    }
  }
  closedir(folder);
  return total;
}

// One streaming client with a thread that takes in every screen frame as it
// comes (a client that stopped reading would stall the server's writes) and
// notes, for each, when it arrived and what the panel shows in it.
struct FrameNote {
  double at;
  uint32_t probe;         // colour of the action's probe pixel, 0xRRGGBB
  uint64_t buttonSum[2];  // checksums of the two clicked buttons' areas
};

// The two buttons the clicks use, their rectangles in frame-buffer
// coordinates, and where the action's drawing shows: the "circle" action
// draws the circle of radius 50 around (320, 240) in the slider colour, which
// passes through (370, 240); "clear" blacks that pixel out again.
struct Target {
  const char* label;
  int32_t x1, y1, x2, y2;
};
constexpr Target kCircle{"circle", 10, 10, 90, 30};
constexpr Target kClear{"clear", 460, 10, 540, 30};
constexpr int32_t kProbeX = 370, kProbeY = 240;
constexpr int32_t kOutsideX = 620, kOutsideY = 60;  // on no widget
// The longest wait for any one frame; longer behind the relay, where a
// plain picture for five clients takes seconds to pass.
int frameWaitMs = 3000;
constexpr int kRelayWaitMs = 20000;
constexpr int kMaxClicks = 200;
constexpr int kMaxSeconds = 120;

// Reads a 24-bit BMP file image; out-of-picture points read as zero.
struct Picture {
  const std::vector<uint8_t>& bytes;
  explicit Picture(const std::vector<uint8_t>& file) : bytes(file) {}
  uint32_t colour(int32_t x, int32_t y) const {
    const uint32_t colour = bmpPixel(bytes, x, y);
    return colour == kNoPixel ? 0 : colour;
  }
  uint64_t areaSum(const Target& area) const {
    uint64_t sum = 0;
    for (int32_t y = area.y1; y <= area.y2; y++) {
      for (int32_t x = area.x1; x <= area.x2; x++) sum = sum * 1000003 + colour(x, y);
    }
    return sum;
  }
};

// What a client offers: compression (a browser's offer) and the change
// stream (the page's subprotocol).
struct Offer {
  const char* extensions;
  const char* protocols;
};
constexpr Offer kOfferNothing{nullptr, nullptr};
constexpr Offer kOfferDeflate{kDeflateOffer, nullptr};
constexpr Offer kOfferPage{kDeflateOffer, kChangesProtocol};

const char* offerName(const Offer& offer) {
  return offer.protocols != nullptr ? "page" : offer.extensions != nullptr ? "deflate" : "plain";
}

// The offers of `clients` clients by name: every one the same, or for
// "mixed" the last plain and the others pages.
std::vector<Offer> offersFor(const std::string& name, int clients) {
  const Offer one = name == "page"      ? kOfferPage
                    : name == "deflate" ? kOfferDeflate
                    : name == "mixed"   ? kOfferPage
                                        : kOfferNothing;
  std::vector<Offer> offers(size_t(clients), one);
  if (name == "mixed") offers.back() = kOfferNothing;
  return offers;
}

class Reader {
 public:
  // Opens the connection and takes in its first picture; with a rate, every
  // read takes at most that many bytes a second.
  bool start(uint16_t port, Offer offer, double rate = 0) {
    WsFrame screen;
    client_.setReadRate(rate);
    if (!client_.openStreaming(port, offer.extensions, offer.protocols) ||
        !client_.readFrame(&screen, frameWaitMs))
      return false;
    if ((offer.extensions != nullptr) != client_.deflateOn()) return false;
    if ((offer.protocols != nullptr) != client_.changesOn()) return false;
    note(screen);
    thread_ = std::thread([this] { run(); });
    return true;
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  ~Reader() { stop(); }
  bool send(int32_t x, int32_t y) {
    return client_.sendFrame(
        0x1, "mouse_X: " + std::to_string(x) + "\r\nmouse_Y: " + std::to_string(y) + "\r\n");
  }
  // The first frame noted after `from` (an index) that satisfies `wanted`,
  // waiting at most frameWaitMs; its index, or -1.
  template <typename Wanted>
  int waitFor(size_t from, Wanted wanted) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (size_t index = from;; index++) {
      const bool arrived = changed_.wait_for(lock, std::chrono::milliseconds(frameWaitMs),
                                             [&] { return notes_.size() > index || failed_; });
      if (!arrived || failed_) return -1;
      if (wanted(notes_[index])) return int(index);
    }
  }
  FrameNote noteAt(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_[index];
  }
  size_t frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_.size();
  }
  uint64_t bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  bool failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }
  // The picture as this client holds it now.
  std::vector<uint8_t> held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
  }

 private:
  void run() {
    while (!stop_) {
      if (client_.staysQuiet(50)) continue;
      WsFrame screen;
      if (!client_.readFrame(&screen, frameWaitMs)) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        changed_.notify_all();
        return;
      }
      note(screen);
    }
  }
  void note(const WsFrame& screen) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!applyStreamMessage(&held_, screen.payload)) {
      fprintf(stderr, "panel-load: a change message that cannot be applied\n");
      failed_ = true;
      changed_.notify_all();
      return;
    }
    const Picture picture(held_);
    const FrameNote frame{nowSeconds(),
                          picture.colour(kProbeX, kProbeY),
                          {picture.areaSum(kCircle), picture.areaSum(kClear)}};
    notes_.push_back(frame);
    bytes_ += screen.wireBytes;
    changed_.notify_all();
  }

  WsClient client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FrameNote> notes_;
  std::vector<uint8_t> held_;  // the picture as applied from every message
  uint64_t bytes_ = 0;
  bool failed_ = false;
};

struct Usage {
  double cpuShare;  // of one core
  double wakeUps;   // a second, all the server's threads together
  std::string rss, hwm;
};

// Server CPU share over `seconds` of whatever the caller does in `during`.
template <typename During>
Usage measure(int pid, During during) {
  const long ticksBefore = cpuTicks(pid);
  const long wakeUpsBefore = wakeUps(pid);
  const double start = nowSeconds();
  during();
  const double elapsed = nowSeconds() - start;
  const double cpu = double(cpuTicks(pid) - ticksBefore) / double(sysconf(_SC_CLK_TCK));
  return {cpu / elapsed, double(wakeUps(pid) - wakeUpsBefore) / elapsed, statusLine(pid, "VmRSS"),
          statusLine(pid, "VmHWM")};
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = size_t(share * double(values.size()));
  if (index >= values.size()) index = values.size() - 1;
  return values[index];
}

void printTimes(const char* what, const std::vector<double>& millis) {
  printf("  %-34s median %6.1f ms  p95 %6.1f ms  max %6.1f ms  (%zu)\n", what,
         percentile(millis, 0.5), percentile(millis, 0.95), percentile(millis, 1.0), millis.size());
}

// Times of the clicks, in milliseconds from the report inside the button.
struct ClickTimes {
  std::vector<double> press;   // to the frame with the press look, at every client sent one
  std::vector<double> action;  // to the clicking client's frame with the action
  std::vector<double> others;  // to every other client's frame with the action
  std::vector<int> pressSent;  // per client: clicks whose press look it was sent
};

// One click on `target` by reader 0: a report inside the button, then, once a
// frame shows the press look (or the action), a report outside it. Every
// client must then be sent the action; the press look counts for a client
// when a frame up to its action's shows the button changed.
bool click(std::vector<std::unique_ptr<Reader>>& readers, const Target& target, bool drawn,
           ClickTimes& times) {
  Reader& clicker = *readers[0];
  const int slot = &target == &kCircle ? 0 : 1;
  std::vector<size_t> startOf;
  std::vector<uint64_t> raisedOf;
  for (auto& reader : readers) {
    startOf.push_back(reader->frames());
    raisedOf.push_back(reader->noteAt(startOf.back() - 1).buttonSum[slot]);
  }
  times.pressSent.resize(readers.size(), 0);
  const auto shows = [&](const FrameNote& frame) { return (frame.probe != 0) == drawn; };
  const double sent = nowSeconds();
  if (!clicker.send((target.x1 + target.x2) / 2, (target.y1 + target.y2) / 2)) return false;
  const int first = clicker.waitFor(startOf[0], [&](const FrameNote& frame) {
    return frame.buttonSum[slot] != raisedOf[0] || shows(frame);
  });
  if (first < 0) {
    fprintf(stderr, "panel-load: no frame after a click on \"%s\"\n", target.label);
    return false;
  }
  if (!clicker.send(kOutsideX, kOutsideY)) return false;
  for (size_t i = 0; i < readers.size(); i++) {
    const int index = readers[i]->waitFor(startOf[i], shows);
    if (index < 0) {
      fprintf(
          stderr,
          "panel-load: client %zu saw no action of \"%s\" (is the picture at least 640 x 480?)\n",
          i + 1, target.label);
      return false;
    }
    const double millis = (readers[i]->noteAt(size_t(index)).at - sent) * 1000.0;
    (i == 0 ? times.action : times.others).push_back(millis);
    for (size_t j = startOf[i]; j <= size_t(index); j++) {
      const FrameNote note = readers[i]->noteAt(j);
      if (note.buttonSum[slot] == raisedOf[i]) continue;
      times.press.push_back((note.at - sent) * 1000.0);
      times.pressSent[i]++;
      break;
    }
  }
  // The button raised again everywhere before the next click.
  for (size_t i = 0; i < readers.size(); i++) {
    const size_t last = readers[i]->frames() - 1;
    if (readers[i]->noteAt(last).buttonSum[slot] == raisedOf[i]) continue;
    if (readers[i]->waitFor(last, [&](const FrameNote& frame) {
          return frame.buttonSum[slot] == raisedOf[i];
        }) < 0) {
      fprintf(stderr, "panel-load: client %zu kept \"%s\" pressed\n", i + 1, target.label);
      return false;
    }
  }
  return true;
}

// Streaming clients with the given offers on the running server: `seconds`
// with the picture unchanged, then `clicks` clicks alternating between
// "clear" and "circle", each after a pause spread over 400 ms (a plain
// client's turn).
int run(int pid, uint16_t port, const std::vector<Offer>& offers, int clicks, int seconds) {
  std::vector<std::unique_ptr<Reader>> readers;
  const int clients = int(offers.size());
  for (int i = 0; i < clients; i++) {
    readers.push_back(std::make_unique<Reader>());
    if (!readers.back()->start(port, offers[size_t(i)])) {
      fprintf(stderr, "panel-load: client %d did not reach streaming\n", i + 1);
      return 1;
    }
  }
  sleep(1);  // every connection settles
  const Usage idle = measure(pid, [&] { sleep(unsigned(seconds)); });
  printf("%d streaming clients (%s%s), picture unchanged for %d s:\n", clients,
         offerName(offers.front()),
         strcmp(offerName(offers.back()), offerName(offers.front())) != 0 ? ", the last plain" : "",
         seconds);
  printf("  server CPU %.2f %% of one core; %.1f wake-ups/s; %s; %s\n", 100.0 * idle.cpuShare,
         idle.wakeUps, idle.rss.c_str(), idle.hwm.c_str());
  if (clicks == 0) return 0;

  // An untimed first click on "clear" when the action's outline shows, so
  // that every timed one changes the probe pixel. On a panel already clear
  // it is left out: that click would change nothing a frame must carry.
  ClickTimes times;
  if (readers[0]->noteAt(readers[0]->frames() - 1).probe != 0 &&
      !click(readers, kClear, false, times)) {
    return 1;
  }
  times = ClickTimes{};
  uint64_t bytesBefore = 0;
  for (auto& reader : readers) bytesBefore += reader->bytes();
  bool ok = true;
  double busySeconds = 0;
  const Usage busy = measure(pid, [&] {
    const double start = nowSeconds();
    for (int k = 0; k < clicks && ok; k++) {
      usleep(useconds_t(37000 * (k % 11)));
      const bool circle = k % 2 == 0;
      ok = click(readers, circle ? kCircle : kClear, circle, times);
    }
    busySeconds = nowSeconds() - start;
  });
  uint64_t bytes = 0;
  for (auto& reader : readers) bytes += reader->bytes();
  bytes -= bytesBefore;
  for (auto& reader : readers) reader->stop();
  if (!ok) {
    fprintf(stderr, "panel-load: a frame did not come within %d ms (after %zu clicks)\n",
            frameWaitMs, times.action.size());
    return 1;
  }
  printf("%d clicks, alternately \"clear\" and \"circle\", %.1f s:\n", clicks, busySeconds);
  printTimes("report to the action, this client", times.action);
  if (!times.others.empty()) printTimes("report to the action, other clients", times.others);
  printTimes("report to the press look, every client", times.press);
  printf("  press look sent:");
  for (int i = 0; i < clients; i++) {
    printf(" client %d (%s) %d/%d%s", i + 1, offerName(offers[size_t(i)]),
           times.pressSent[size_t(i)], clicks, i + 1 < clients ? "," : "\n");
  }
  printf("  delivered %.1f KB/s to %d clients (on the wire)\n", double(bytes) / busySeconds / 1e3,
         clients);
  printf("  server CPU %.2f %% of one core; %s; %s\n", 100.0 * busy.cpuShare, busy.rss.c_str(),
         busy.hwm.c_str());
  return 0;
}

// A relay on loopback between the clients and the server that lets through
// at most `rate` bytes a second toward the clients, all connections
// together, from one token bucket; the clients' bytes go through at once.
// One thread polls every connection; a side that closes closes its pair.
class Relay {
 public:
  Relay(uint16_t serverPort, double rate) : serverPort_(serverPort), rate_(rate) {}
  ~Relay() { stop(); }
  // Listens on a free loopback port; that port, or 0.
  uint16_t start() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return 0;
    }
    thread_ = std::thread([this] { run(); });
    return ntohs(address.sin_port);
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (const Pair& pair : pairs_) closePair(pair);
    pairs_.clear();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

 private:
  struct Pair {
    int client, server;
  };
  static constexpr double kBurst = 65536;  // the bucket's depth in bytes

  static void closePair(const Pair& pair) {
    close(pair.client);
    close(pair.server);
  }
  // Moves what `from` has (at most `most` bytes) to `to`; bytes moved, or -1
  // when either side has closed.
  static long move(int from, int to, size_t most) {
    uint8_t chunk[16384];
    const ssize_t got = recv(from, chunk, std::min(most, sizeof chunk), MSG_DONTWAIT);
    if (got == 0) return -1;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    for (ssize_t sent = 0; sent < got;) {
      const ssize_t n = send(to, chunk + sent, size_t(got - sent), MSG_NOSIGNAL);
      if (n <= 0) return -1;
      sent += n;
    }
    return long(got);
  }
  void accept() {
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(serverPort_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(client);
      close(server);
      return;
    }
    pairs_.push_back({client, server});
  }
  void run() {
    double tokens = kBurst, last = nowSeconds();
    size_t next = 0;  // the pair served first toward the clients, in turn
    while (!stop_) {
      const double now = nowSeconds();
      tokens = std::min(kBurst, tokens + (now - last) * rate_);
      last = now;
      std::vector<pollfd> entries{{listener_, POLLIN, 0}};
      for (const Pair& pair : pairs_) {
        entries.push_back({pair.client, POLLIN, 0});
        entries.push_back({pair.server, short(tokens >= 1 ? POLLIN : 0), 0});
      }
      // Without tokens, wake when the next kilobyte's worth has come in.
      const int wait = tokens >= 1 ? 20 : std::max(1, int(1024 / rate_ * 1000));
      if (poll(entries.data(), entries.size(), wait) < 0) break;
      if (entries[0].revents & POLLIN) accept();
      std::vector<bool> closed(pairs_.size(), false);
      for (size_t k = 0; k < pairs_.size(); ++k) {
        const size_t i = (next + k) % pairs_.size();
        const pollfd& fromClient = entries[1 + 2 * i];
        const pollfd& fromServer = entries[2 + 2 * i];
        if (fromClient.revents != 0 && move(pairs_[i].client, pairs_[i].server, 16384) < 0) {
          closed[i] = true;
        }
        if (!closed[i] && fromServer.revents != 0 && tokens >= 1) {
          const long moved = move(pairs_[i].server, pairs_[i].client, size_t(tokens));
          if (moved < 0) closed[i] = true;
          if (moved > 0) tokens -= double(moved);
        }
      }
      if (!pairs_.empty()) next = (next + 1) % pairs_.size();
      for (size_t i = pairs_.size(); i-- > 0;) {
        if (!closed[i]) continue;
        closePair(pairs_[i]);
        pairs_.erase(pairs_.begin() + long(i));
      }
    }
  }

  uint16_t serverPort_;
  double rate_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<Pair> pairs_;  // the relay thread's alone while it runs
};

// The clicks of run() behind the relay: page viewers (the change stream and
// compression), then compressed whole-picture clients, then plain ones.
int relayed(int pid, uint16_t port, int clicks, double rate) {
  frameWaitMs = kRelayWaitMs;
  Relay relay(port, rate);
  const uint16_t relayPort = relay.start();
  if (relayPort == 0) return 1;
  printf("== behind a relay limiting the link to %.2f MB/s: page viewers (change stream)\n",
         rate / 1e6);
  fflush(stdout);
  const int page = run(pid, relayPort, offersFor("page", kClients), clicks, 2);
  sleep(2);  // the server sees those connections end and frees their slots
  printf("== behind the same relay: four page viewers and a client offering nothing\n");
  fflush(stdout);
  const int mixed = run(pid, relayPort, offersFor("mixed", kClients), clicks, 2);
  sleep(2);
  printf("== behind the same relay: clients offering compression\n");
  fflush(stdout);
  const int packed = run(pid, relayPort, offersFor("deflate", kClients), clicks, 2);
  sleep(2);
  printf("== behind the same relay: clients offering nothing (plain frames)\n");
  fflush(stdout);
  const int plain = run(pid, relayPort, offersFor("plain", kClients), clicks, 2);
  if (plain != 0) printf("  plain clients: the run failed (see above)\n");
  return page != 0 ? page : mixed != 0 ? mixed : packed;
}

// The click script of the demonstration panel, pressed by a page viewer
// while a compressed whole-picture viewer watches beside it: the bytes each
// received on the wire, step by step. After each step both must hold the
// same picture.
struct ScriptStep {
  const char* label;
  int32_t x, y;
};
constexpr ScriptStep kScript[] = {
    {"circle", 50, 20},    {"circlef", 140, 20},  {"rect", 230, 20},
    {"reectf", 320, 20},   {"triangle", 410, 20}, {"slider 1", 20, 180},
    {"slider 2", 45, 110}, {"slider 3", 70, 150}, {"clear", 500, 20},
};
constexpr useconds_t kPressMicros = 700000;        // two control-loop polls
constexpr useconds_t kStepSettleMicros = 1600000;  // four connection turns

int script(uint16_t port) {
  Reader page;
  Reader whole;
  if (!page.start(port, kOfferPage) || !whole.start(port, kOfferDeflate)) {
    fprintf(stderr, "panel-load: a viewer did not reach streaming\n");
    return 1;
  }
  usleep(kStepSettleMicros);
  printf("%-10s %14s %14s\n", "step", "page bytes", "whole bytes");
  uint64_t pageTotal = 0, wholeTotal = 0;
  for (const ScriptStep& step : kScript) {
    const uint64_t pageBefore = page.bytes(), wholeBefore = whole.bytes();
    // The press is taken at a control-loop poll, the release at a later one.
    if (!page.send(step.x, step.y)) return 1;
    usleep(kPressMicros);
    if (!page.send(kOutsideX, kOutsideY)) return 1;
    usleep(kStepSettleMicros);
    const uint64_t pageBytes = page.bytes() - pageBefore, wholeBytes = whole.bytes() - wholeBefore;
    pageTotal += pageBytes;
    wholeTotal += wholeBytes;
    printf("%-10s %14llu %14llu\n", step.label, static_cast<unsigned long long>(pageBytes),
           static_cast<unsigned long long>(wholeBytes));
    if (page.failed() || whole.failed() || page.held() != whole.held()) {
      fprintf(stderr, "panel-load: after \"%s\" the two viewers hold different pictures\n",
              step.label);
      return 1;
    }
  }
  printf("%-10s %14llu %14llu   page/whole %.2f %%\n", "total",
         static_cast<unsigned long long>(pageTotal), static_cast<unsigned long long>(wholeTotal),
         wholeTotal ? 100.0 * double(pageTotal) / double(wholeTotal) : 0.0);
  page.stop();
  whole.stop();
  return 0;
}

// A page viewer and a plain client, each reading `rate` bytes a second,
// while a page viewer beside them clicks once a second.
int slow(int pid, uint16_t port, double rate, int seconds) {
  (void)pid;
  frameWaitMs = 120000;  // a whole picture at 50 KB/s takes some 20 s
  Reader clicker;
  if (!clicker.start(port, kOfferPage)) {
    fprintf(stderr, "panel-load: the clicking viewer did not reach streaming\n");
    return 1;
  }
  struct Slow {
    const char* name;
    Offer offer;
    Reader reader;
    double firstSeconds = -1;
  };
  Slow viewers[2];
  viewers[0].name = "page viewer";
  viewers[0].offer = kOfferPage;
  viewers[1].name = "plain client";
  viewers[1].offer = kOfferNothing;
  std::vector<std::thread> starting;
  for (Slow& viewer : viewers) {
    starting.emplace_back([&viewer, port, rate] {
      const double start = nowSeconds();
      if (viewer.reader.start(port, viewer.offer, rate)) viewer.firstSeconds = nowSeconds() - start;
    });
  }
  for (std::thread& thread : starting) thread.join();
  printf("== two viewers, each reading %.0f KB/s:\n", rate / 1e3);
  for (const Slow& viewer : viewers) {
    if (viewer.firstSeconds < 0) {
      printf("  %-13s no first picture (dropped or timed out)\n", viewer.name);
    } else {
      printf("  %-13s first picture after %.1f s\n", viewer.name, viewer.firstSeconds);
    }
  }
  const double start = nowSeconds();
  int clicks = 0;
  for (; nowSeconds() - start < seconds; clicks++) {
    const Target& target = clicks % 2 == 0 ? kCircle : kClear;
    if (!clicker.send((target.x1 + target.x2) / 2, (target.y1 + target.y2) / 2)) return 1;
    usleep(300000);
    if (!clicker.send(kOutsideX, kOutsideY)) return 1;
    usleep(700000);
  }
  printf("  %d clicks in %.0f s by a page viewer beside them\n", clicks, nowSeconds() - start);
  usleep(2000000);  // the last click drawn and sent to the clicker
  const std::vector<uint8_t> final = clicker.held();
  for (Slow& viewer : viewers) {
    if (viewer.firstSeconds < 0) continue;
    const bool connected = !viewer.reader.failed();
    double caughtUp = -1;
    const double waitFrom = nowSeconds();
    while (connected && !viewer.reader.failed() && nowSeconds() - waitFrom < 90) {
      if (viewer.reader.held() == final) {
        caughtUp = nowSeconds() - waitFrom;
        break;
      }
      usleep(100000);
    }
    printf("  %-13s %s at the end of the clicks; ", viewer.name,
           connected ? "still connected" : "DROPPED");
    if (caughtUp >= 0) {
      printf("held the final picture %.1f s later\n", caughtUp);
    } else {
      printf("did not come to hold the final picture\n");
    }
  }
  for (Slow& viewer : viewers) viewer.reader.stop();
  clicker.stop();
  return 0;
}

int latency(int rounds) {
  const std::string path = "/tmp/panel-load-" + std::to_string(getpid()) + ".bmp";
  if (!writeBytes(path, makeBmp(BmpLayout{}, calmBackground)) || dumpBMPinit(path.c_str()) != 1) {
    return 1;
  }
  unlink(path.c_str());
  wsport = 0;
  if (startWSserver() != kListening) return 1;
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  WsClient client;
  WsFrame frame;
  if (!client.openStreaming(ntohs(address.sin_port)) || !client.readFrame(&frame, 3000)) return 1;

  std::vector<double> millis;
  for (int round = 0; round < rounds; round++) {
    // Spread the drawings over the server's turn.
    usleep(useconds_t(37000 * (round % 11)));
    const double drawn = nowSeconds();
    {
      FrameLock lock;
      BMP_SetPixel(round % 640, 0, uint8_t(round), 0, 0);
    }
    if (!client.readFrame(&frame, 3000)) return 1;
    millis.push_back((nowSeconds() - drawn) * 1000.0);
  }
  std::sort(millis.begin(), millis.end());
  printf("drawing call to whole screen frame (%zu bytes), %d rounds: ", frame.payload.size(),
         rounds);
  printf("min %.1f ms, median %.1f ms, max %.1f ms\n", millis.front(), millis[millis.size() / 2],
         millis.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: panel-load idle <pid> <port> [seconds] [plain|deflate|page]\n"
      "       panel-load clicks <pid> <port> [clients] [clicks] [idle-seconds] "
      "[plain|deflate|page|mixed]\n"
      "       panel-load relay <pid> <port> [clicks] [bytes-per-second]\n"
      "       panel-load slow <pid> <port> <bytes-per-second> [seconds]\n"
      "       panel-load latency [rounds]\n"
      "       panel-load script <port>\n";
  if (answeredHelp(argc, argv, kUsage)) return 0;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "idle" && argc >= 4) {
    const int seconds = std::clamp(argc > 4 ? atoi(argv[4]) : 10, 1, kMaxSeconds);
    const std::string offer = argc > 5 ? argv[5] : "plain";
    return run(atoi(argv[2]), uint16_t(atoi(argv[3])), offersFor(offer, kClients), 0, seconds);
  }
  if (mode == "clicks" && argc >= 4) {
    const int clients = std::clamp(argc > 4 ? atoi(argv[4]) : kClients, 1, kClients);
    const int clicks = std::clamp(argc > 5 ? atoi(argv[5]) : 20, 1, kMaxClicks);
    const int seconds = std::clamp(argc > 6 ? atoi(argv[6]) : 10, 1, kMaxSeconds);
    const std::string offer = argc > 7 ? argv[7] : "plain";
    return run(atoi(argv[2]), uint16_t(atoi(argv[3])), offersFor(offer, clients), clicks, seconds);
  }
  if (mode == "slow" && argc >= 5) {
    const double rate = std::clamp(atof(argv[4]), 1e3, 1e9);
    const int seconds = std::clamp(argc > 5 ? atoi(argv[5]) : 60, 1, kMaxSeconds);
    return slow(atoi(argv[2]), uint16_t(atoi(argv[3])), rate, seconds);
  }
  if (mode == "relay" && argc >= 4) {
    const int clicks = std::clamp(argc > 4 ? atoi(argv[4]) : 20, 1, kMaxClicks);
    const double rate = std::clamp(argc > 5 ? atof(argv[5]) : 2e6, 1e5, 1e9);
    return relayed(atoi(argv[2]), uint16_t(atoi(argv[3])), clicks, rate);
  }
  if (mode == "latency") return latency(argc > 2 ? atoi(argv[2]) : 20);
  if (mode == "script" && argc >= 3) return script(uint16_t(atoi(argv[2])));
  fputs(kUsage, stderr);
  return 2;
}
