// Keep-alive timers for every accepted socket. The user timeout bounds the
// time sent data may stay unacknowledged too, so a vanished peer is found
// as surely while a picture is on its way to it as while all is still.
#include "server/peer_timers.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Written once by readPeerTimeoutSetting before the listener starts.
int timeoutSeconds = kPeerTimeoutSeconds;

}  // namespace

PeerTimers peerTimersFor(int timeout) {
  // The first probe after two fifths of the time, then a probe every tenth,
  // so a peer that lost one or two probes on a poor link is not given up.
  PeerTimers timers{timeout * 2 / 5, timeout / 10, 0};
  if (timers.idle < 1) timers.idle = 1;
  if (timers.interval < 1) timers.interval = 1;
  timers.probes = (timeout - timers.idle) / timers.interval;
  if (timers.probes < 1) timers.probes = 1;
  return timers;
}

int readPeerTimeoutSetting() {
  const char* value = getenv("PANEL_PEER_TIMEOUT");
  if (!value || !*value) return 0;
  int seconds = 0;
  bool digits = strlen(value) <= 4;
  for (const char* at = value; digits && *at; ++at) {
    digits = *at >= '0' && *at <= '9';
    seconds = seconds * 10 + (*at - '0');
  }
  if (digits && seconds >= kPeerTimeoutLeast && seconds <= kPeerTimeoutMost) {
    timeoutSeconds = seconds;
    return 0;
  }
  fprintf(stderr, "PANEL_PEER_TIMEOUT: \"%s\" is not a number of seconds from %d to %d\n", value,
          kPeerTimeoutLeast, kPeerTimeoutMost);
  return kPeerTimeoutBad;
}

void watchForDeadPeer(int sock) {
  const PeerTimers timers = peerTimersFor(timeoutSeconds);
  const int on = 1;
  const unsigned userTimeoutMs = unsigned(timeoutSeconds) * 1000;
  // Each is a hint: a socket that refuses one is served as before.
  setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(sock, IPPROTO_TCP, TCP_KEEPIDLE, &timers.idle, sizeof timers.idle);
  setsockopt(sock, IPPROTO_TCP, TCP_KEEPINTVL, &timers.interval, sizeof timers.interval);
  setsockopt(sock, IPPROTO_TCP, TCP_KEEPCNT, &timers.probes, sizeof timers.probes);
  setsockopt(sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}
