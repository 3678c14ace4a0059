// Socket reads and writes with a 0.3 s wait before every system call (or a
// shorter one the caller gives, for reads with a deadline).
//
// The wait is poll() on the one descriptor, so any descriptor number works.
// Both system calls run without blocking (MSG_DONTWAIT): a send to a peer
// that stopped reading comes back at once and the next wait times out,
// instead of hanging in the kernel. Sends carry MSG_NOSIGNAL, so a vanished
// peer gives an error result, never a broken-pipe signal. A signal that
// interrupts a wait or a call is not a failure: the call is made again, and
// the wait goes on for what is left of its 0.3 s.
//
// A steady write judges a slow peer by what leaves the socket's queue, not
// by how soon the socket takes more: a socket with a large queue may stay
// unwritable for many seconds while a slow peer drains it.
#include "net/socket_io.h"

#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "base/clock.h"

namespace {

constexpr int kWaitReady = 1;
constexpr int kWaitTimeout = 0;
constexpr int kWaitError = -1;

// Waits until sock is ready for `events`, at most waitMicros (rounded up to
// whole milliseconds, the clock's and poll's unit).
int waitFor(int sock, short events, int waitMicros = kSocketWaitMicros) {
  const int64_t deadline = monotonicMs() + (int64_t(waitMicros) + 999) / 1000;
  for (;;) {
    const int64_t left = deadline - monotonicMs();
    if (left <= 0) return kWaitTimeout;
    pollfd entry{sock, events, 0};
    const int ready = poll(&entry, 1, int(left));
    if (ready > 0) return (entry.revents & POLLNVAL) ? kWaitError : kWaitReady;
    if (ready == 0) return kWaitTimeout;
    if (errno != EINTR) return kWaitError;
  }
}

bool isRetry(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

int wssRd(int sock, uint8_t* buf, int len, uint8_t* peerClosed) {
  int total = 0;
  while (total < len) {
    const int wait = waitFor(sock, POLLIN);
    if (wait == kWaitTimeout) return total > 0 ? total : kSocketIdle;
    if (wait == kWaitError) return kSocketError;
    const ssize_t got = recv(sock, buf + total, size_t(len - total), MSG_DONTWAIT);
    if (got > 0) {
      total += int(got);
    } else if (got == 0) {
      if (peerClosed) *peerClosed = 255;
      return total > 0 ? total : kSocketIdle;
    } else if (!isRetry(errno)) {
      return kSocketError;
    }
  }
  return total;
}

int wssRdOnce(int sock, uint8_t* buf, int len, int waitMicros, uint8_t* peerClosed) {
  if (len <= 0) return 0;
  for (;;) {
    const int wait = waitFor(sock, POLLIN, waitMicros);
    if (wait == kWaitTimeout) return kSocketIdle;
    if (wait == kWaitError) return kSocketError;
    const ssize_t got = recv(sock, buf, size_t(len), MSG_DONTWAIT);
    if (got > 0) return int(got);
    if (got == 0) {
      if (peerClosed) *peerClosed = 255;
      return kSocketIdle;
    }
    if (!isRetry(errno)) return kSocketError;
  }
}

int wssWr(int sock, const uint8_t* buf, int len) {
  int total = 0;
  while (total < len) {
    const int wait = waitFor(sock, POLLOUT);
    if (wait == kWaitTimeout) return kSocketIdle;
    if (wait == kWaitError) return kSocketError;
    const ssize_t sent = send(sock, buf + total, size_t(len - total), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      total += int(sent);
    } else if (sent == 0) {
      return kSocketIdle;
    } else if (!isRetry(errno)) {
      return kSocketError;
    }
  }
  return total;
}

int wssWrSteady(int sock, const uint8_t* buf, int len) {
  int total = 0;
  int64_t movedAt = monotonicMs();
  int unsent = -1;  // the queue as last seen while waiting, -1 unknown
  while (total < len) {
    const int wait = waitFor(sock, POLLOUT);
    if (wait == kWaitError) return kSocketError;
    if (wait == kWaitTimeout) {
      const int queued = wssUnsent(sock);
      if (unsent >= 0 && queued >= 0 && queued < unsent) movedAt = monotonicMs();
      unsent = queued;
      if (monotonicMs() - movedAt >= kStalledPeerMillis) return kSocketIdle;
      continue;
    }
    const ssize_t sent = send(sock, buf + total, size_t(len - total), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      total += int(sent);
      movedAt = monotonicMs();
      unsent = -1;
    } else if (sent == 0) {
      return kSocketIdle;
    } else if (!isRetry(errno)) {
      return kSocketError;
    }
  }
  return total;
}

int wssRdNow(int sock, uint8_t* buf, int len, uint8_t* peerClosed) {
  if (len <= 0) return 0;
  for (;;) {
    const ssize_t got = recv(sock, buf, size_t(len), MSG_DONTWAIT);
    if (got > 0) return int(got);
    if (got == 0) {
      *peerClosed = 255;
      return kSocketIdle;
    }
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kSocketIdle : kSocketError;
  }
}

int wssWrNow(int sock, const uint8_t* buf, int len) {
  if (len <= 0) return 0;
  for (;;) {
    const ssize_t sent = send(sock, buf, size_t(len), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return int(sent);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kSocketError;
  }
}

int wssUnsent(int sock) {
  int queued = 0;
  return ioctl(sock, SIOCOUTQ, &queued) == 0 ? queued : -1;
}
