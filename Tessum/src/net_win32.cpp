#include "net.h"

namespace tessum {
namespace net {

// Winsock never finishes a non-blocking connect inside the call, not even on loopback, so
// the attempt would only add a wait. Worse, Asio waits for a socket to become writable
// through a select() thread of its own, started per io_context at the first wait and kept
// for the life of the process, which wakes every millisecond. ConnectEx (async_connect)
// waits on the completion port instead.
bool ConnectMayFinishAtOnce() { return false; }

void KeepFromChildren(asio::detail::socket_type socket) {
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace net
}  // namespace tessum
