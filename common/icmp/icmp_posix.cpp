// ICMP echo over POSIX sockets: a raw socket where the process may open one (root or
// CAP_NET_RAW), else the ICMP datagram socket, which needs net.ipv4.ping_group_range to admit
// the caller's group. POSIX has no echo helper of its own; a test's runs here as on Windows.
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "icmp_echo.h"
#include "icmp_helper.h"

struct IcmpEchoSocket {
  int fd = -1;
  IcmpHelperEcho *helper = nullptr;
  IcmpEchoKind kind = ICMP_ECHO_RAW;
  uint32_t target = 0;
  uint16_t identifier = 0;
  int last_error = 0;
  uint8_t request[ICMP_ECHO_REQUEST_SIZE];
  uint8_t receive[1024];
};

namespace {

uint64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int SetTimeouts(int fd, uint32_t ms) {
  struct timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return errno;
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return errno;
  return 0;
}

bool IsUnreachable(int error) {
  return error == ENETUNREACH || error == EHOSTUNREACH || error == ENETDOWN ||
         error == EHOSTDOWN || error == EADDRNOTAVAIL;
}

// Errors a socket reports for an earlier datagram (an ICMP error queued against it). They
// say nothing about the answer we wait for, so reading goes on.
bool IsQueuedDatagramError(int error) {
  return IsUnreachable(error) || error == ECONNREFUSED || error == EPROTO ||
         error == EMSGSIZE || error == ENOPROTOOPT;
}

sockaddr_in TargetAddress(uint32_t target) {
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = target;
  return to;
}

// 1 for the answer, 0 for a datagram to skip.
int Classify(const IcmpEchoSocket *s, const sockaddr_in &from, ssize_t got,
             uint16_t first_sequence) {
  const uint8_t *icmp = s->receive;
  size_t length = static_cast<size_t>(got);
  if (s->kind == ICMP_ECHO_RAW && !IcmpEcho_StripIpHeader(s->receive, length, &icmp, &length))
    return 0;
  IcmpEchoReplyFilter filter = {s->target, s->identifier, s->kind == ICMP_ECHO_RAW,
                                first_sequence};
  return IcmpEcho_IsAnswer(&filter, from.sin_addr.s_addr, icmp, length);
}

}  // namespace

int IcmpEcho_Open(uint32_t target, uint32_t io_timeout_ms, IcmpEchoSocket **out) {
  if (!out) return EINVAL;
  *out = nullptr;
  IcmpEchoSocket *s = new (std::nothrow) IcmpEchoSocket;
  if (!s) return ENOMEM;
  s->target = target;
  s->identifier = static_cast<uint16_t>(getpid() & 0xFFFF);
  if (const IcmpEchoHelper *helper = IcmpHelper_ForTests()) {
    s->kind = ICMP_ECHO_HELPER;
    int error = IcmpHelper_Open(helper, target, io_timeout_ms, &s->helper);
    if (error != 0) {
      IcmpEcho_Close(&s);
      return error;
    }
    *out = s;
    return 0;
  }
  s->fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s->fd < 0 && (errno == EPERM || errno == EACCES)) {
    s->kind = ICMP_ECHO_DGRAM;
    s->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  int error = s->fd < 0 ? errno : IcmpEcho_SetTimeouts(s, io_timeout_ms);
  if (error != 0) {
    IcmpEcho_Close(&s);
    return error;
  }
  *out = s;
  return 0;
}

int IcmpEcho_SetTimeouts(IcmpEchoSocket *s, uint32_t io_timeout_ms) {
  if (!s) return EINVAL;
  if (io_timeout_ms == 0) return 0;
  if (s->helper) {
    IcmpHelper_SetTimeout(s->helper, io_timeout_ms);
    return 0;
  }
  return SetTimeouts(s->fd, io_timeout_ms);
}

void IcmpEcho_Close(IcmpEchoSocket **socket) {
  if (!socket || !*socket) return;
  IcmpHelper_Close(&(*socket)->helper);
  if ((*socket)->fd >= 0) close((*socket)->fd);
  delete *socket;
  *socket = nullptr;
}

IcmpEchoKind IcmpEcho_Kind(const IcmpEchoSocket *socket) { return socket->kind; }
int IcmpEcho_LastError(const IcmpEchoSocket *socket) {
  return socket->helper ? IcmpHelper_LastError(socket->helper) : socket->last_error;
}

IcmpEchoResult IcmpEcho_Send(IcmpEchoSocket *s, uint16_t sequence, uint32_t ticks) {
  IcmpEcho_BuildRequest(s->request, s->identifier, sequence, ticks);
  if (s->helper) return IcmpHelper_Send(s->helper, s->request);
  sockaddr_in to = TargetAddress(s->target);
  for (;;) {
    ssize_t sent = sendto(s->fd, s->request, sizeof s->request, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr *>(&to), sizeof to);
    if (sent == static_cast<ssize_t>(sizeof s->request)) return ICMP_ECHO_OK;
    int error = sent < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) return ICMP_ECHO_TIMEOUT;
    if (IsUnreachable(error)) return ICMP_ECHO_UNREACHABLE;
    s->last_error = error;
    return ICMP_ECHO_ERROR;
  }
}

IcmpEchoResult IcmpEcho_WaitReply(IcmpEchoSocket *s, uint16_t first_sequence,
                                  uint32_t window_ms) {
  if (s->helper) return IcmpHelper_WaitReply(s->helper, window_ms);
  const uint64_t end = MonotonicMs() + window_ms;
  for (;;) {
    uint64_t now = MonotonicMs();
    if (now >= end) return ICMP_ECHO_TIMEOUT;
    struct pollfd pfd = {s->fd, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(end - now));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      s->last_error = errno;
      return ICMP_ECHO_ERROR;
    }
    if (ready == 0) return ICMP_ECHO_TIMEOUT;
    sockaddr_in from;
    socklen_t from_length = sizeof from;
    memset(&from, 0, sizeof from);
    ssize_t got = recvfrom(s->fd, s->receive, sizeof s->receive, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&from), &from_length);
    if (got < 0) {
      int error = errno;
      if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK) continue;
      if (IsQueuedDatagramError(error)) continue;
      s->last_error = error;
      return ICMP_ECHO_ERROR;
    }
    if (Classify(s, from, got, first_sequence)) return ICMP_ECHO_OK;
  }
}
