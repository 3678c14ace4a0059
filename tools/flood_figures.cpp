// Figures of the slot flood (not a test): this build's server with an access
// key, a flood of idle and slow sockets from 127.0.0.2 (and the next
// addresses, when spread) for the given time,
// and the owner's signed-in browser from 127.0.0.1 coming in every 3 s.
// Prints each visit's time to its first picture, the share within 3 s, the
// connections the flood opened and the server's CPU share meanwhile.
//   panel-flood [SECONDS] [IDLE] [TRICKLE] [LOGIN] [ADDRESSES]   (60 20 20 20 1)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tools/peer/clock.h"
#include "tools/peer/proc_stats.h"
#include "tools/peer/server_process.h"
#include "tools/peer/slot_flood.h"
#include "tools/peer/temp_path.h"
#include "tools/peer/viewer.h"
#include "tools/peer/ws_client.h"

namespace {

constexpr int kVisitEveryMs = 3000;
constexpr int kPictureWithinMs = 3000;
constexpr int kGiveUpMs = 10000;

std::string newKey(const std::string& file) {
  FILE* made = popen((std::string(PANEL_KEY_BIN) + " " + file).c_str(), "r");
  if (made == nullptr) return "";
  char line[256];
  std::string key;
  while (fgets(line, sizeof line, made) != nullptr) {
    const std::string text = line;
    if (text.rfind("Key: ", 0) == 0) key = text.substr(5, text.find('\n') - 5);
  }
  pclose(made);
  return key;
}

std::string loginCookie(uint16_t port, const std::string& key) {
  WsClient login;
  if (!login.connect(port)) return "";
  const std::string body = "key=" + key;
  login.sendRaw("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
  std::string answer;
  login.readReply(&answer, 5000);
  const size_t at = answer.find("Set-Cookie: ");
  return at == std::string::npos ? "" : answer.substr(at + 12, answer.find(';', at) - at - 12);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  SlotFloodCounts counts{20, 20, 20};
  if (argc > 4) counts = {atoi(argv[2]), atoi(argv[3]), atoi(argv[4])};
  if (argc > 5) counts.addresses = atoi(argv[5]);
  const std::string keyFile = tempPath("flood-keys");
  const std::string key = newKey(keyFile);
  const uint16_t port = freePort();
  ServerProcess server;
  server.setEnvironment("PANEL_KEY_FILE", keyFile);
  if (key.empty() || !server.startOnPort("flood", port, 640, 480)) {
    fprintf(stderr, "panel-flood: the server did not start\n");
    unlink(keyFile.c_str());
    return 1;
  }
  const std::string cookie = loginCookie(port, key);
  if (cookie.empty()) {
    fprintf(stderr, "panel-flood: no session cookie\n");
    unlink(keyFile.c_str());
    return 1;
  }
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  SlotFlood flood;
  flood.start(port, counts);
  const int64_t start = monotonicMs();
  const long ticksBefore = cpuTicks(server.pid());
  int visits = 0, inTime = 0;
  while (monotonicMs() - start < int64_t(seconds) * 1000) {
    const int64_t visitStart = monotonicMs();
    Viewer owner;
    const bool in = owner.open(port, nullptr, "Cookie: " + cookie + "\r\n") &&
                    owner.waitForPictures(0, kGiveUpMs);
    const int64_t took = monotonicMs() - visitStart;
    ++visits;
    if (in && took <= kPictureWithinMs) ++inTime;
    printf("visit %d: %s after %lld ms\n", visits, in ? "first picture" : "nothing",
           static_cast<long long>(took));
    owner.close();
    const int64_t next = visitStart + kVisitEveryMs;
    while (monotonicMs() < next) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const long ticks = cpuTicks(server.pid()) - ticksBefore;
  const double wall = double(monotonicMs() - start) / 1000;
  flood.stop();
  printf(
      "flood: %d idle, %d byte-a-second, %d half-sent logins from %d address(es) from "
      "127.0.0.2 on; %lld connections opened in %.0f s\n",
      counts.idle, counts.trickle, counts.login, counts.addresses,
      static_cast<long long>(flood.opened()), wall);
  printf("owner: %d of %d visits had their first picture within %d ms (%.0f %%)\n", inTime, visits,
         kPictureWithinMs, visits ? 100.0 * inTime / visits : 0.0);
  printf("server CPU: %.1f %% of one core\n", 100.0 * double(ticks) / ticksPerSecond / wall);
  unlink(keyFile.c_str());
  return 0;
}
