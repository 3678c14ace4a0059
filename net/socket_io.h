// Socket reads and writes that wait at most 0.3 s for the socket before every
// system call, so a connection thread never blocks for long; a steady write
// for the screen, which tells a slow peer from a stalled one; and reads and
// writes that do not wait, for a thread that waits in poll itself.
#pragma once

#include <cstdint>

constexpr int kSocketWaitMicros = 300000;

// Results of wssRd and wssWr besides a count.
constexpr int kSocketIdle = -1;   // nothing moved within the wait (or the peer closed)
constexpr int kSocketError = -2;  // the socket failed

// Bytes read (1..len; 0 when len <= 0); kSocketIdle when nothing arrived
// within 0.3 s or the peer had closed its side; kSocketError on an error. When peerClosed is given
// it is set to 255 once the peer is seen to have closed its side.
int wssRd(int sock, uint8_t* buf, int len, uint8_t* peerClosed = nullptr);
// One wait of at most waitMicros for sock to become readable, then one
// receive: bytes read (1..len), kSocketIdle when nothing arrived in the wait
// or the peer had closed its side (peerClosed then set to 255), or
// kSocketError. For reads that must end by a deadline of their own.
int wssRdOnce(int sock, uint8_t* buf, int len, int waitMicros, uint8_t* peerClosed = nullptr);
// Bytes written (== len; 0 when len <= 0); kSocketIdle when the socket
// stayed unwritable for 0.3 s or send returned 0; kSocketError on an error (a vanished peer
// never raises SIGPIPE).
int wssWr(int sock, const uint8_t* buf, int len);

// A peer that takes nothing of what it is sent for this long is stalled,
// and its connection ends; one that keeps taking bytes, however slowly,
// is not. A few seconds: a phone at the edge of the Wi-Fi still takes some
// bytes every second.
constexpr int kStalledPeerMillis = 5000;

// Like wssWr, but it goes on while the peer keeps taking bytes: kSocketIdle
// only when for kStalledPeerMillis neither a send moved a byte nor the
// peer took one from what the socket holds for it.
int wssWrSteady(int sock, const uint8_t* buf, int len);

// ---- Without waiting -----------------------------------------------------------

// Bytes read now (1..len; 0 when len <= 0); kSocketIdle when none are
// waiting, or the peer has closed its side (peerClosed is then set to
// 255); kSocketError on an error.
int wssRdNow(int sock, uint8_t* buf, int len, uint8_t* peerClosed);
// Bytes the socket took now (0..len); kSocketError on an error.
int wssWrNow(int sock, const uint8_t* buf, int len);
// Bytes the socket holds that the peer has not yet taken, or -1 when the
// system cannot tell.
int wssUnsent(int sock);
