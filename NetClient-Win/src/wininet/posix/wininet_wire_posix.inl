// Template part of the FTP wire: reading a data connection to its end.
#pragma once

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

namespace ncwin {

template <typename Sink>
DWORD WireReadToEnd(int fd, int timeout_ms, Sink sink) {
  char buffer[16384];
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, timeout_ms);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ERROR_INTERNET_CONNECTION_ABORTED;
    }
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return ERROR_INTERNET_CONNECTION_RESET;
    }
    DWORD err = sink(buffer, static_cast<size_t>(got));
    if (err != 0) return err;
  }
}

}  // namespace ncwin
