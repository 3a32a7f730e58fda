// The loopback helpers that need no platform call of their own: built on the calls of
// test_socket_posix.cpp / test_socket_win32.cpp.
#include "test_socket.h"

namespace kvtest {

uint16_t FreeLoopbackPort() {
  uint16_t port = 0;
  int fd = ListenLoopback(0, 1, &port);
  CloseSocket(fd);
  return port;
}

bool LoopbackAccepts(uint16_t port) {
  int fd = ConnectLoopback(port);
  CloseSocket(fd);
  return fd >= 0;
}

}  // namespace kvtest
