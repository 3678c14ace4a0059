// Socket reads and writes that wait at most 0.3 s for the socket before every
// system call, so a connection thread never blocks for long.
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
