#include <winsock2.h>
#include <ws2tcpip.h>

#include "test_socket.h"

namespace kvtest {

namespace {

// Winsock for the whole test program: started before the first socket, never stopped, so
// that servers of static fixtures may close their sockets at exit.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET S(int fd) { return static_cast<SOCKET>(fd); }

sockaddr_in Address(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

int NewSocket() {
  StartWinsock();
  // Not inherited: a helper process must not keep a test's connection open.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

}  // namespace

int ListenLoopback(uint16_t port, int backlog, uint16_t *bound) {
  int fd = NewSocket();
  if (fd < 0) return -1;
  // Windows' SO_REUSEADDR would let two listeners share a port; exclusive use is the
  // meaning that the Linux option has for a listener.
  BOOL one = TRUE;
  setsockopt(S(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&one), sizeof one);
  sockaddr_in a = Address(INADDR_LOOPBACK, port);
  if (bind(S(fd), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(S(fd), backlog) != 0) {
    CloseSocket(fd);
    return -1;
  }
  if (bound) *bound = LocalPort(fd);
  return fd;
}

int ConnectLoopback(uint16_t port) { return ConnectIPv4(INADDR_LOOPBACK, port); }

int ConnectIPv4(uint32_t address, uint16_t port) {
  int fd = NewSocket();
  if (fd < 0) return -1;
  sockaddr_in a = Address(address, port);
  if (connect(S(fd), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    CloseSocket(fd);
    return -1;
  }
  return fd;
}

int AcceptSocket(int listener) {
  SOCKET s = accept(S(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<int>(s);
}

void CloseSocket(int fd) {
  if (fd >= 0) closesocket(S(fd));
}

void ShutdownSocket(int fd) { shutdown(S(fd), SD_BOTH); }

void SetNoDelay(int fd) {
  BOOL one = TRUE;
  setsockopt(S(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
}

void SetResetOnClose(int fd) {
  linger l{1, 0};
  setsockopt(S(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof l);
}

long SendBytes(int fd, const void *data, size_t size) {
  return send(S(fd), static_cast<const char *>(data), static_cast<int>(size), 0);
}

long RecvBytes(int fd, void *buffer, size_t size) {
  return recv(S(fd), static_cast<char *>(buffer), static_cast<int>(size), 0);
}

long RecvAll(int fd, void *buffer, size_t size) {
  return recv(S(fd), static_cast<char *>(buffer), static_cast<int>(size), MSG_WAITALL);
}

bool WaitReadable(int fd, int timeout_ms) {
  WSAPOLLFD p{S(fd), POLLRDNORM, 0};
  return WSAPoll(&p, 1, timeout_ms) > 0;
}

bool InheritedByChildren(int fd) {
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(S(fd)), &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  int len = sizeof a;
  if (getsockname(S(fd), reinterpret_cast<sockaddr *>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

}  // namespace kvtest
