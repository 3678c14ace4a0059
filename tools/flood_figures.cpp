// Figures of the slot flood (not a test): this build's server with an access
// key, a flood of idle and slow sockets from 127.0.0.2 (and the next
// addresses, when spread) for the given time,
// and the owner's signed-in browser from 127.0.0.1 coming in every 3 s.
// Prints each visit's time to its first picture, the share within 3 s, the
// connections the flood opened, the server's CPU share and resident memory
// meanwhile and the bytes it printed a minute.
//   panel-flood [SECONDS] [IDLE] [TRICKLE] [LOGIN] [ADDRESSES] [OWNER] [NET]
//   (60 20 20 20 1 socket v4)
// PANEL_SERVER_BIN, when set, names the server to run (another build's).
// OWNER "page" loads the page first as a browser does (the page, then its
// five scripts in parallel), then opens the stream. NET "v6" runs the whole
// in a network namespace of the tool's own (root only; it goes with the
// tool): the server at fd00:0:0:2::1, the flood from fd00:0:0:1::2 and up
// and the owner from fd00:0:0:1::1, the attackers' /64.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tools/peer/clock.h"
#include "tools/peer/proc_stats.h"
#include "tools/peer/server_process.h"
#include "tools/peer/slot_flood.h"
#include "tools/peer/temp_path.h"
#include "tools/peer/tool_usage.h"
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

constexpr const char* kScripts[] = {"/changes.js", "/opening.js", "/picture.js", "/key.js",
                                    "/page.js"};

// Where the owner comes from and where the server is.
struct Route {
  std::string owner = "127.0.0.1";
  std::string server = "127.0.0.1";
};

// A network namespace of this process's own with the IPv6 addresses of the
// server, the owner and `attackers` attackers on its loopback; false when
// it cannot be made.
bool enterIpv6Namespace(int attackers) {
  if (unshare(CLONE_NEWNET) != 0) return false;
  FILE* batch = popen("ip -batch -", "w");
  if (batch == nullptr) return false;
  fprintf(batch, "link set lo up\naddr add fd00:0:0:2::1/128 dev lo nodad\n");
  for (int i = 1; i < attackers + 2; ++i) {
    fprintf(batch, "addr add fd00:0:0:1::%x/128 dev lo nodad\n", i);
  }
  return pclose(batch) == 0;
}

// One GET of `path` with the cookie, read to its end: true on a 200.
bool fetched(uint16_t port, const Route& route, const std::string& cookie, const char* path) {
  WsClient client;
  if (!client.setRoute(route.owner, route.server) || !client.connect(port)) return false;
  client.sendRaw(std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie +
                 "\r\n\r\n");
  const std::vector<uint8_t> answer = client.readExact(size_t(1) << 20, kGiveUpMs);
  return std::string(answer.begin(), answer.end()).rfind("HTTP/1.1 200 ", 0) == 0;
}

// The page, then its scripts in parallel, as a browser loads them.
bool pageLoaded(uint16_t port, const Route& route, const std::string& cookie) {
  if (!fetched(port, route, cookie, "/")) return false;
  bool ok[std::size(kScripts)] = {};
  std::vector<std::thread> loads;
  for (size_t i = 0; i < std::size(kScripts); ++i) {
    loads.emplace_back([&, i] { ok[i] = fetched(port, route, cookie, kScripts[i]); });
  }
  for (std::thread& load : loads) load.join();
  for (bool one : ok) {
    if (!one) return false;
  }
  return true;
}

std::string loginCookie(uint16_t port, const std::string& key, const Route& route) {
  WsClient login;
  if (!login.setRoute(route.owner, route.server) || !login.connect(port)) return "";
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
  constexpr const char* kUsage =
      "usage: panel-flood [SECONDS] [IDLE] [TRICKLE] [LOGIN] [ADDRESSES]   (60 20 20 20 1)\n"
      "Floods this build's server (with an access key) with idle, trickling and\n"
      "login sockets while the owner's browser visits every 3 s; prints the figures.\n";
  if (const int answer = usageAnswer(argc, argv, kUsage); answer >= 0) return answer;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  SlotFloodCounts counts{20, 20, 20};
  if (argc > 4) counts = {atoi(argv[2]), atoi(argv[3]), atoi(argv[4])};
  if (argc > 5) counts.addresses = atoi(argv[5]);
  const bool page = argc > 6 && std::string(argv[6]) == "page";
  const bool ipv6 = argc > 7 && std::string(argv[7]) == "v6";
  Route route;
  if (ipv6) {
    if (!enterIpv6Namespace(counts.addresses)) {
      fprintf(stderr, "panel-flood: no network namespace (root and iproute2 needed)\n");
      return 1;
    }
    route = {"fd00:0:0:1::1", "fd00:0:0:2::1"};
    counts.target = "fd00:0:0:2::1";
    counts.sourcePrefix = "fd00:0:0:1::";
  }
  const std::string keyFile = tempPath("flood-keys");
  const std::string key = newKey(keyFile);
  const uint16_t port = freePort();
  // PANEL_SERVER_BIN names another build's server, for figures before a change.
  const char* program = getenv("PANEL_SERVER_BIN");
  ServerProcess server(program != nullptr && *program ? program : PANEL_SERVER_BIN);
  server.setEnvironment("PANEL_KEY_FILE", keyFile);
  if (ipv6) server.setEnvironment("PANEL_LISTEN", "::");
  if (key.empty() || !server.startOnPort("flood", port, 640, 480)) {
    fprintf(stderr, "panel-flood: the server did not start\n");
    unlink(keyFile.c_str());
    return 1;
  }
  const std::string cookie = loginCookie(port, key, route);
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
  long residentMost = 0;
  while (monotonicMs() - start < int64_t(seconds) * 1000) {
    const int64_t visitStart = monotonicMs();
    Viewer owner;
    owner.setRoute(route.owner, route.server);
    const bool in = (!page || pageLoaded(port, route, cookie)) &&
                    owner.open(port, nullptr, "Cookie: " + cookie + "\r\n") &&
                    owner.waitForPictures(0, kGiveUpMs);
    residentMost = std::max(residentMost, residentKib(server.pid()));
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
      "%s on; %lld connections opened in %.0f s\n",
      counts.idle, counts.trickle, counts.login, counts.addresses,
      ipv6 ? "fd00:0:0:1::2 (the owner's /64)" : "127.0.0.2",
      static_cast<long long>(flood.opened()), wall);
  printf("owner (%s): %d of %d visits had their first picture within %d ms (%.0f %%)\n",
         page ? "page, then stream" : "stream", inTime, visits, kPictureWithinMs,
         visits ? 100.0 * inTime / visits : 0.0);
  printf("server CPU: %.1f %% of one core; resident memory at most %ld KiB\n",
         100.0 * double(ticks) / ticksPerSecond / wall, residentMost);
  printf("server log: %.0f bytes a minute\n", double(server.output().size()) * 60 / wall);
  unlink(keyFile.c_str());
  return 0;
}
