// Measures the server under streaming clients.
//   panel-load idle <pid> <port> [seconds]
//     five streaming clients on the running server <pid>, the picture left
//     unchanged: the server's CPU use over the period and its resident memory.
//   panel-load latency [rounds]
//     the server in this process with one streaming client: the time from a
//     drawing call to the whole screen frame at the client.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/framebuffer.h"
#include "server/listener.h"
#include "server/records.h"
#include "support/ws_client.h"
#include "tools/bmp_writer.h"

namespace {

constexpr int kClients = 5;

double nowSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// User plus system time of the process, in clock ticks.
long cpuTicks(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  // Fields after the name start at the state (field 3); utime is 14, stime 15.
  for (int index = 3; index <= 15 && fields >> field; index++) {
    if (index == 14) utime = atol(field.c_str());
    if (index == 15) stime = atol(field.c_str());
  }
  return utime + stime;
}

std::string statusLine(int pid, const std::string& key) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(key, 0) == 0) return line;
  }
  return key + " ?";
}

int idle(int pid, uint16_t port, int seconds) {
  WsClient clients[kClients];
  for (WsClient& client : clients) {
    WsFrame screen;
    if (!client.openStreaming(port) || !client.readFrame(&screen, 3000)) {
      fprintf(stderr, "panel-load: a client did not reach streaming\n");
      return 1;
    }
  }
  const long ticksBefore = cpuTicks(pid);
  const double start = nowSeconds();
  sleep(unsigned(seconds));
  const double elapsed = nowSeconds() - start;
  const double cpu = double(cpuTicks(pid) - ticksBefore) / double(sysconf(_SC_CLK_TCK));
  printf("%d streaming clients, unchanged picture, %.1f s\n", kClients, elapsed);
  printf("server CPU: %.3f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
  printf("%s\n%s\n", statusLine(pid, "VmRSS").c_str(), statusLine(pid, "VmHWM").c_str());
  return 0;
}

int latency(int rounds) {
  const std::string path = "/tmp/panel-load-" + std::to_string(getpid()) + ".bmp";
  if (!writeBytes(path, makeBmp(BmpSpec{}, calmBackground)) || dumpBMPinit(path.c_str()) != 1) {
    return 1;
  }
  unlink(path.c_str());
  wsport = 0;
  if (startWSserver() < 0) return 1;
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
    pthread_mutex_lock(&BMPmutex);
    BMP_SetPixel(round % 640, 0, uint8_t(round), 0, 0);
    pthread_mutex_unlock(&BMPmutex);
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
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "idle" && argc >= 4) {
    return idle(atoi(argv[2]), uint16_t(atoi(argv[3])), argc > 4 ? atoi(argv[4]) : 10);
  }
  if (mode == "latency") return latency(argc > 2 ? atoi(argv[2]) : 20);
  fprintf(stderr, "usage: panel-load idle <pid> <port> [seconds] | panel-load latency [rounds]\n");
  return 2;
}
