#include "net.h"

#include <fcntl.h>

namespace tessum {
namespace net {

// A loopback or nearby peer's connect returns 0 at once, and a pending one is waited for by
// the io_context's own epoll.
bool ConnectMayFinishAtOnce() { return true; }

void KeepFromChildren(asio::detail::socket_type socket) {
  int flags = ::fcntl(socket, F_GETFD);
  if (flags >= 0) ::fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace net
}  // namespace tessum
