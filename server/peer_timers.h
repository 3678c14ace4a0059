// Finding peers that vanished without a word (a phone that left the Wi-Fi
// sends neither FIN nor RST): every accepted socket gets TCP keep-alive
// with short timers and a user timeout, so the system ends a connection
// whose peer stopped answering, even while the panel stands still and
// nothing is being sent. The probes are TCP's own: no byte of the stream
// changes, so every client, whatever it offered, gets exactly the same
// bytes, and a pending connection or a page request is covered as well as
// a stream. A dead peer then reads as a socket error in its thread, which
// ends the connection and frees the slot.
#pragma once

// Seconds from the peer's last sign of life to the end of its connection,
// unless PANEL_PEER_TIMEOUT says otherwise.
constexpr int kPeerTimeoutSeconds = 50;
constexpr int kPeerTimeoutLeast = 3;
constexpr int kPeerTimeoutMost = 3600;

constexpr int kPeerTimeoutBad = -1;  // PANEL_PEER_TIMEOUT is not a count of seconds in range

// The keep-alive timings for a timeout: silence before the first probe,
// the pause between probes and their count, all in seconds, so that the
// probes end by the timeout.
struct PeerTimers {
  int idle;
  int interval;
  int probes;
};
PeerTimers peerTimersFor(int timeoutSeconds);

// Reads PANEL_PEER_TIMEOUT (whole seconds, kPeerTimeoutLeast to
// kPeerTimeoutMost): 0, or kPeerTimeoutBad after a line on stderr naming the
// bad value.
int readPeerTimeoutSetting();
// Sets keep-alive and the user timeout on an accepted socket.
void watchForDeadPeer(int sock);
