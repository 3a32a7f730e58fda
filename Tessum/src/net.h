// What the platforms' sockets do differently, for the code that makes connections and for
// the waits of a request on the caller's thread: Linux (net_posix.cpp), Windows
// (net_win32.cpp).
#pragma once

#include <asio.hpp>

#include <mutex>

namespace tessum {
namespace net {

// True when a non-blocking connect to a peer that answers at once (a device nearby) can
// finish inside the call, so that the request can be sent on the calling thread.
bool ConnectMayFinishAtOnce();

// Keeps a socket we made out of the processes the host starts: an inherited copy would keep
// a device's connection open, or a port taken, after we closed ours. Asio makes inheritable
// sockets on both platforms.
void KeepFromChildren(asio::detail::socket_type socket);

enum class Want { Nothing, Connect, Read, Write };
enum class Woke { Ready, Failed, Woken, TimedOut };

// The wait of a request that runs on the caller's thread: on its socket and on a wake-up
// that another thread sets (an abort, a finished name lookup), together. Linux polls the
// socket with an eventfd; Windows waits for the socket's event and the wake-up event with
// WSAWaitForMultipleEvents. What the platform needs is made at the first wait (on Windows
// at the first socket), so that a request answered at once makes none of it; a wake-up set
// before then is kept and carried over. The waker outlives the sockets it watches.
class Waker {
 public:
  Waker() = default;
  ~Waker();
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;

  // Any thread. The wake-up stays set until Drain.
  void Wake();
  // The waiting thread: clears a wake-up it has dealt with.
  void Drain();
  // A new TCP socket for the waits below: non-blocking, kept from child processes, and on
  // Windows tied to the waker's socket event. invalid_socket on failure.
  asio::detail::socket_type NewSocket(int family);
  // Waits for `want` on `socket` (Nothing: for a wake-up alone) at most `timeout_ms`
  // (-1: no bound). For Connect, Ready means connected and Failed that the attempt failed;
  // Failed also when the platform's part could not be made.
  Woke Wait(asio::detail::socket_type socket, Want want, int timeout_ms);

  struct State;  // the platform's part

 private:
  // The platform's part, made on first use; NULL when that failed. Under `mu_`.
  State *Made();
  static State *Make();
  // Frees a cleared state (Linux keeps one per thread for the thread's next waker).
  static void Destroy(State *state);
  static void Signal(State *state);
  static void Clear(State *state);

  std::mutex mu_;  // over `state_` and `woken_`, which a waking thread reads
  State *state_ = nullptr;
  bool woken_ = false;
};

}  // namespace net
}  // namespace tessum
