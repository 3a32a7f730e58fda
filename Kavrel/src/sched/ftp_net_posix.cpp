// POSIX sockets for the socket FTP client's active mode.
#include "sched/ftp_net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

int FtpNet_Listen(uint16_t port, uintptr_t *out) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FTPNET_NO_SOCKET;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    close(fd);
    return FTPNET_FAILED;
  }
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
    int error = errno;
    close(fd);
    return error == EADDRINUSE ? FTPNET_IN_USE : FTPNET_FAILED;
  }
  if (listen(fd, 4) != 0) {
    int error = errno;
    close(fd);
    return error == EADDRINUSE ? FTPNET_IN_USE : FTPNET_FAILED;
  }
  *out = static_cast<uintptr_t>(fd);
  return FTPNET_OK;
}

void FtpNet_Close(uintptr_t socket) { close(static_cast<int>(socket)); }

static int AddressOf(uintptr_t socket, uint32_t *out, bool peer) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  int fd = static_cast<int>(socket);
  int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length)
                : getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  if (rc != 0 || address.sin_family != AF_INET) return -1;
  *out = ntohl(address.sin_addr.s_addr);
  return 0;
}

int FtpNet_LocalAddress(uintptr_t socket, uint32_t *address) {
  return AddressOf(socket, address, false);
}

int FtpNet_PeerAddress(uintptr_t socket, uint32_t *address) {
  return AddressOf(socket, address, true);
}

uint32_t FtpNet_Random(void) {
  std::random_device device;
  return device();
}
