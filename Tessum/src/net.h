// What the platforms' sockets do differently, for the code that makes connections: Linux
// (net_posix.cpp), Windows (net_win32.cpp).
#pragma once

#include <asio.hpp>

namespace tessum {
namespace net {

// True when a non-blocking connect to a peer that answers at once (a device nearby) can
// finish inside the call, so that the request can be sent on the calling thread.
bool ConnectMayFinishAtOnce();

// Keeps a socket we made out of the processes the host starts: an inherited copy would keep
// a device's connection open, or a port taken, after we closed ours. Asio makes inheritable
// sockets on both platforms.
void KeepFromChildren(asio::detail::socket_type socket);

}  // namespace net
}  // namespace tessum
