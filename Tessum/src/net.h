// What the platforms' sockets do differently, for the code that makes connections: Linux
// (net_posix.cpp), Windows (net_win32.cpp).
#pragma once

namespace tessum {
namespace net {

// True when a non-blocking connect to a peer that answers at once (a device nearby) can
// finish inside the call, so that the request can be sent on the calling thread.
bool ConnectMayFinishAtOnce();

}  // namespace net
}  // namespace tessum
