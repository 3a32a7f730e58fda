// ICMP echo on Windows: a raw socket, which needs an administrator; otherwise the system's
// echo helper (IcmpSendEcho2), which any user may call. Hosts rarely run elevated.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <string.h>

#include <new>

#include "icmp_echo.h"

struct IcmpEchoSocket {
  SOCKET fd = INVALID_SOCKET;
  HANDLE helper = INVALID_HANDLE_VALUE;
  IcmpEchoKind kind = ICMP_ECHO_RAW;
  bool winsock = false;  // this socket's start of Windows Sockets, ended by IcmpEcho_Close
  uint32_t target = 0;
  uint16_t identifier = 0;
  int last_error = 0;
  uint8_t request[ICMP_ECHO_REQUEST_SIZE];
  uint8_t receive[1024];
};

namespace {

int SetTimeouts(SOCKET fd, uint32_t ms) {
  DWORD value = ms;
  const char *raw = reinterpret_cast<const char *>(&value);
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, raw, sizeof value) != 0) return WSAGetLastError();
  if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, raw, sizeof value) != 0) return WSAGetLastError();
  return 0;
}

bool IsUnreachable(int error) {
  return error == WSAENETUNREACH || error == WSAEHOSTUNREACH || error == WSAENETDOWN ||
         error == WSAEHOSTDOWN || error == WSAEADDRNOTAVAIL;
}

bool IsQueuedDatagramError(int error) {
  return IsUnreachable(error) || error == WSAECONNRESET || error == WSAEMSGSIZE;
}

bool HelperUnreachable(DWORD error) {
  return error == IP_DEST_NET_UNREACHABLE || error == IP_DEST_HOST_UNREACHABLE ||
         error == ERROR_NETWORK_UNREACHABLE || error == ERROR_HOST_UNREACHABLE ||
         error == IP_HW_ERROR || error == IP_NO_RESOURCES;
}

int OpenHelper(IcmpEchoSocket *s) {
  s->kind = ICMP_ECHO_HELPER;
  s->helper = IcmpCreateFile();
  return s->helper == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
}

// The helper sends and waits in one call and matches the reply to its request itself.
IcmpEchoResult HelperEcho(IcmpEchoSocket *s, uint32_t window_ms) {
  const ULONGLONG end = GetTickCount64() + window_ms;
  DWORD count = IcmpSendEcho2(s->helper, nullptr, nullptr, nullptr, s->target,
                              s->request + 8, ICMP_ECHO_REQUEST_SIZE - 8, nullptr, s->receive,
                              sizeof s->receive, window_ms);
  if (count == 0) {
    DWORD error = GetLastError();
    if (error == IP_REQ_TIMED_OUT) return ICMP_ECHO_TIMEOUT;
    if (HelperUnreachable(error)) return ICMP_ECHO_UNREACHABLE;
    s->last_error = static_cast<int>(error);
    return ICMP_ECHO_ERROR;
  }
  const ICMP_ECHO_REPLY *replies = reinterpret_cast<const ICMP_ECHO_REPLY *>(s->receive);
  for (DWORD i = 0; i < count; ++i) {
    if (replies[i].Status == IP_SUCCESS && replies[i].Address == s->target) return ICMP_ECHO_OK;
  }
  // An error from a router on the way is not the answer: the window still runs out.
  ULONGLONG now = GetTickCount64();
  if (now < end) Sleep(static_cast<DWORD>(end - now));
  return ICMP_ECHO_TIMEOUT;
}

int Classify(const IcmpEchoSocket *s, const sockaddr_in &from, int got,
             uint16_t first_sequence) {
  const uint8_t *icmp = nullptr;
  size_t length = 0;
  if (!IcmpEcho_StripIpHeader(s->receive, static_cast<size_t>(got), &icmp, &length)) return 0;
  IcmpEchoReplyFilter filter = {s->target, s->identifier, 1, first_sequence};
  return IcmpEcho_IsAnswer(&filter, from.sin_addr.s_addr, icmp, length);
}

}  // namespace

int IcmpEcho_Open(uint32_t target, uint32_t io_timeout_ms, IcmpEchoSocket **out) {
  if (!out) return WSAEINVAL;
  *out = nullptr;
  IcmpEchoSocket *s = new (std::nothrow) IcmpEchoSocket;
  if (!s) return WSA_NOT_ENOUGH_MEMORY;
  s->target = target;
  s->identifier = static_cast<uint16_t>(GetCurrentProcessId() & 0xFFFF);
  // The caller may not have started Windows Sockets (the network client's probe can run
  // before any connection): without a start of its own every socket call fails with
  // WSANOTINITIALISED. Starts are counted, so this one is ended on close.
  WSADATA data;
  int error = WSAStartup(MAKEWORD(2, 2), &data);
  if (error != 0) {
    delete s;
    return error;
  }
  s->winsock = true;
  s->fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (s->fd == INVALID_SOCKET) {
    error = WSAGetLastError();
    if (error == WSAEACCES) error = OpenHelper(s);
  } else {
    error = IcmpEcho_SetTimeouts(s, io_timeout_ms);
  }
  if (error != 0) {
    IcmpEcho_Close(&s);
    return error;
  }
  *out = s;
  return 0;
}

// The echo helper takes its wait per call, so only the raw socket has options to set.
int IcmpEcho_SetTimeouts(IcmpEchoSocket *s, uint32_t io_timeout_ms) {
  if (!s) return WSAEINVAL;
  if (io_timeout_ms == 0 || s->kind == ICMP_ECHO_HELPER) return 0;
  return SetTimeouts(s->fd, io_timeout_ms);
}

void IcmpEcho_Close(IcmpEchoSocket **socket) {
  if (!socket || !*socket) return;
  if ((*socket)->fd != INVALID_SOCKET) closesocket((*socket)->fd);
  if ((*socket)->helper != INVALID_HANDLE_VALUE) IcmpCloseHandle((*socket)->helper);
  if ((*socket)->winsock) WSACleanup();
  delete *socket;
  *socket = nullptr;
}

IcmpEchoKind IcmpEcho_Kind(const IcmpEchoSocket *socket) { return socket->kind; }
int IcmpEcho_LastError(const IcmpEchoSocket *socket) { return socket->last_error; }

IcmpEchoResult IcmpEcho_Send(IcmpEchoSocket *s, uint16_t sequence, uint32_t ticks) {
  IcmpEcho_BuildRequest(s->request, s->identifier, sequence, ticks);
  if (s->kind == ICMP_ECHO_HELPER) return ICMP_ECHO_OK;
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = s->target;
  int sent = sendto(s->fd, reinterpret_cast<const char *>(s->request), sizeof s->request, 0,
                    reinterpret_cast<const sockaddr *>(&to), sizeof to);
  if (sent == static_cast<int>(sizeof s->request)) return ICMP_ECHO_OK;
  int error = sent == SOCKET_ERROR ? WSAGetLastError() : WSAEMSGSIZE;
  if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK) return ICMP_ECHO_TIMEOUT;
  if (IsUnreachable(error)) return ICMP_ECHO_UNREACHABLE;
  s->last_error = error;
  return ICMP_ECHO_ERROR;
}

IcmpEchoResult IcmpEcho_WaitReply(IcmpEchoSocket *s, uint16_t first_sequence,
                                  uint32_t window_ms) {
  if (s->kind == ICMP_ECHO_HELPER) return HelperEcho(s, window_ms);
  const ULONGLONG end = GetTickCount64() + window_ms;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= end) return ICMP_ECHO_TIMEOUT;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s->fd, &readable);
    ULONGLONG left = end - now;
    timeval tv;
    tv.tv_sec = static_cast<long>(left / 1000);
    tv.tv_usec = static_cast<long>(left % 1000) * 1000;
    int ready = select(0, &readable, nullptr, nullptr, &tv);
    if (ready == SOCKET_ERROR) {
      s->last_error = WSAGetLastError();
      return ICMP_ECHO_ERROR;
    }
    if (ready == 0) return ICMP_ECHO_TIMEOUT;
    sockaddr_in from;
    int from_length = sizeof from;
    memset(&from, 0, sizeof from);
    int got = recvfrom(s->fd, reinterpret_cast<char *>(s->receive), sizeof s->receive, 0,
                       reinterpret_cast<sockaddr *>(&from), &from_length);
    if (got == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK || IsQueuedDatagramError(error))
        continue;
      s->last_error = error;
      return ICMP_ECHO_ERROR;
    }
    if (Classify(s, from, got, first_sequence)) return ICMP_ECHO_OK;
  }
}
