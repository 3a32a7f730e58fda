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
#include "icmp_helper.h"

struct IcmpEchoSocket {
  SOCKET fd = INVALID_SOCKET;
  IcmpHelperEcho *helper = nullptr;
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

// ---- The system's echo helper (IcmpSendEcho2), asynchronous with an event ------------------

// One handle's request. The system writes the reply into `reply` until the event is set, so
// the block lives until then, whatever the caller does meanwhile.
struct SystemEcho {
  HANDLE icmp = INVALID_HANDLE_VALUE;
  HANDLE done = nullptr;  // manual reset, set by the system when the request ends
  uint32_t target = 0;
  uint32_t timeout_ms = 0;
  bool pending = false;
  uint8_t data[ICMP_ECHO_REQUEST_SIZE];
  uint8_t reply[1024];
};

const uint32_t kSystemCloseGraceMs = 2000;

int SystemOpen(void *, uint32_t target, void **handle) {
  SystemEcho *e = new (std::nothrow) SystemEcho;
  if (!e) return ERROR_NOT_ENOUGH_MEMORY;
  e->target = target;
  e->icmp = IcmpCreateFile();
  e->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (e->icmp == INVALID_HANDLE_VALUE || e->done == nullptr) {
    int error = static_cast<int>(GetLastError());
    if (e->icmp != INVALID_HANDLE_VALUE) IcmpCloseHandle(e->icmp);
    if (e->done) CloseHandle(e->done);
    delete e;
    return error;
  }
  *handle = e;
  return 0;
}

// What the system's answer to an ended request says.
IcmpEchoHelperState SystemOutcome(SystemEcho *e, int *error) {
  DWORD count = IcmpParseReplies(e->reply, sizeof e->reply);
  if (count == 0) {
    DWORD failure = GetLastError();
    if (failure == IP_REQ_TIMED_OUT) return ICMP_HELPER_UNANSWERED;
    if (HelperUnreachable(failure)) return ICMP_HELPER_UNREACHABLE;
    *error = static_cast<int>(failure);
    return ICMP_HELPER_FAILED;
  }
  const ICMP_ECHO_REPLY *replies = reinterpret_cast<const ICMP_ECHO_REPLY *>(e->reply);
  for (DWORD i = 0; i < count; ++i) {
    if (replies[i].Status == IP_SUCCESS && replies[i].Address == e->target) {
      return ICMP_HELPER_ANSWERED;
    }
  }
  // An error from a router on the way is not the answer.
  return ICMP_HELPER_UNANSWERED;
}

IcmpEchoHelperState SystemStart(void *handle, const uint8_t *data, size_t length,
                                uint32_t timeout_ms, int *error) {
  SystemEcho *e = static_cast<SystemEcho *>(handle);
  if (length > sizeof e->data) length = sizeof e->data;
  memcpy(e->data, data, length);
  e->timeout_ms = timeout_ms;
  ResetEvent(e->done);
  DWORD count = IcmpSendEcho2(e->icmp, e->done, nullptr, nullptr, e->target, e->data,
                              static_cast<WORD>(length), nullptr, e->reply, sizeof e->reply,
                              timeout_ms);
  DWORD failure = count != 0 ? ERROR_SUCCESS : GetLastError();
  if (count != 0 || failure == ERROR_IO_PENDING) {
    if (count != 0) SetEvent(e->done);  // ended at once: the wait reads the reply as usual
    e->pending = true;
    return ICMP_HELPER_PENDING;
  }
  if (failure == IP_REQ_TIMED_OUT) return ICMP_HELPER_UNANSWERED;
  if (HelperUnreachable(failure)) return ICMP_HELPER_UNREACHABLE;
  *error = static_cast<int>(failure);
  return ICMP_HELPER_FAILED;
}

IcmpEchoHelperState SystemWait(void *handle, uint32_t wait_ms, int *error) {
  SystemEcho *e = static_cast<SystemEcho *>(handle);
  DWORD waited = WaitForSingleObject(e->done, wait_ms);
  if (waited == WAIT_TIMEOUT) return ICMP_HELPER_PENDING;
  if (waited != WAIT_OBJECT_0) {
    *error = static_cast<int>(GetLastError());
    return ICMP_HELPER_FAILED;
  }
  e->pending = false;
  return SystemOutcome(e, error);
}

// Closing the ICMP handle cancels a running request; the system still owns its buffers until
// the request has ended, which its own time-out bounds. Should the system never end it, the
// block is left to the system rather than freed under it.
void SystemClose(void *handle) {
  SystemEcho *e = static_cast<SystemEcho *>(handle);
  IcmpCloseHandle(e->icmp);
  if (e->pending && WaitForSingleObject(e->done, e->timeout_ms + kSystemCloseGraceMs) !=
                        WAIT_OBJECT_0) {
    return;
  }
  CloseHandle(e->done);
  delete e;
}

const IcmpEchoHelper kSystemHelper = {nullptr, SystemOpen, SystemStart, SystemWait, SystemClose};

int Classify(const IcmpEchoSocket *s, const sockaddr_in &from, int got,
             uint16_t first_sequence) {
  const uint8_t *icmp = nullptr;
  size_t length = 0;
  if (!IcmpEcho_StripIpHeader(s->receive, static_cast<size_t>(got), &icmp, &length)) return 0;
  IcmpEchoReplyFilter filter = {s->target, s->identifier, 1, first_sequence};
  return IcmpEcho_IsAnswer(&filter, from.sin_addr.s_addr, icmp, length);
}

int OpenHelper(IcmpEchoSocket *s, const IcmpEchoHelper *helper, uint32_t io_timeout_ms) {
  s->kind = ICMP_ECHO_HELPER;
  return IcmpHelper_Open(helper, s->target, io_timeout_ms, &s->helper);
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
  if (const IcmpEchoHelper *helper = IcmpHelper_ForTests()) {
    error = OpenHelper(s, helper, io_timeout_ms);
  } else {
    s->fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    error = s->fd != INVALID_SOCKET ? IcmpEcho_SetTimeouts(s, io_timeout_ms) : WSAGetLastError();
    if (s->fd == INVALID_SOCKET && error == WSAEACCES) {
      error = OpenHelper(s, &kSystemHelper, io_timeout_ms);
    }
  }
  if (error != 0) {
    IcmpEcho_Close(&s);
    return error;
  }
  *out = s;
  return 0;
}

// The echo helper's requests wait as long as the socket's I/O time-out.
int IcmpEcho_SetTimeouts(IcmpEchoSocket *s, uint32_t io_timeout_ms) {
  if (!s) return WSAEINVAL;
  if (io_timeout_ms == 0) return 0;
  if (s->helper) {
    IcmpHelper_SetTimeout(s->helper, io_timeout_ms);
    return 0;
  }
  return SetTimeouts(s->fd, io_timeout_ms);
}

void IcmpEcho_Close(IcmpEchoSocket **socket) {
  if (!socket || !*socket) return;
  if ((*socket)->fd != INVALID_SOCKET) closesocket((*socket)->fd);
  IcmpHelper_Close(&(*socket)->helper);
  if ((*socket)->winsock) WSACleanup();
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
  if (s->helper) return IcmpHelper_WaitReply(s->helper, window_ms);
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
