#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "test_socket.h"

namespace kvtest {

namespace {

sockaddr_in Address(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

}  // namespace

int ListenLoopback(uint16_t port, int backlog, uint16_t *bound) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Address(INADDR_LOOPBACK, port);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    return -1;
  }
  if (bound) *bound = LocalPort(fd);
  return fd;
}

int ConnectLoopback(uint16_t port) { return ConnectIPv4(INADDR_LOOPBACK, port); }

int ConnectIPv4(uint32_t address, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = Address(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int AcceptSocket(int listener) { return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); }

void CloseSocket(int fd) {
  if (fd >= 0) ::close(fd);
}

void ShutdownSocket(int fd) { ::shutdown(fd, SHUT_RDWR); }

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetResetOnClose(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

long SendBytes(int fd, const void *data, size_t size) {
  return static_cast<long>(::send(fd, data, size, MSG_NOSIGNAL));
}

long RecvBytes(int fd, void *buffer, size_t size) {
  return static_cast<long>(::recv(fd, buffer, size, 0));
}

long RecvAll(int fd, void *buffer, size_t size) {
  return static_cast<long>(::recv(fd, buffer, size, MSG_WAITALL));
}

bool WaitReadable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0;
}

bool InheritedByChildren(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

}  // namespace kvtest
