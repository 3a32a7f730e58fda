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

// `wake` is the wake-up; `socket` the event that the watched socket's network events set.
// Network events are recorded once and re-armed by the call that consumes them (recv, send),
// so each wait follows a call that would have blocked, and an event reported while waiting
// for something else only makes the next call try again.
struct Waker::State {
  WSAEVENT wake = WSA_INVALID_EVENT;
  WSAEVENT socket = WSA_INVALID_EVENT;
};

Waker::State *Waker::Make() {
  State *state = new (std::nothrow) State;
  if (state == nullptr) return nullptr;
  state->wake = ::WSACreateEvent();
  state->socket = ::WSACreateEvent();
  if (state->wake != WSA_INVALID_EVENT && state->socket != WSA_INVALID_EVENT) return state;
  Destroy(state);
  return nullptr;
}

void Waker::Destroy(State *state) {
  if (state->wake != WSA_INVALID_EVENT) ::WSACloseEvent(state->wake);
  if (state->socket != WSA_INVALID_EVENT) ::WSACloseEvent(state->socket);
  delete state;
}

void Waker::Signal(State *state) { ::WSASetEvent(state->wake); }

void Waker::Clear(State *state) { ::WSAResetEvent(state->wake); }

// WSAEventSelect also makes the socket non-blocking.
asio::detail::socket_type Waker::NewSocket(int family) {
  State *state = Made();
  if (state == nullptr) return asio::detail::invalid_socket;
  SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return asio::detail::invalid_socket;
  KeepFromChildren(s);
  ::WSAResetEvent(state->socket);
  if (::WSAEventSelect(s, state->socket, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0) {
    return s;
  }
  ::closesocket(s);
  return asio::detail::invalid_socket;
}

Woke Waker::Wait(asio::detail::socket_type socket, Want want, int timeout_ms) {
  State *state = Made();
  if (state == nullptr) return Woke::Failed;
  WSAEVENT events[2] = {state->wake, state->socket};
  const DWORD count = want == Want::Nothing ? 1 : 2;
  DWORD waited = ::WSAWaitForMultipleEvents(count, events, FALSE,
                                            timeout_ms < 0 ? WSA_INFINITE : static_cast<DWORD>(timeout_ms),
                                            FALSE);
  if (waited == WSA_WAIT_TIMEOUT) return Woke::TimedOut;
  if (waited == WSA_WAIT_EVENT_0) return Woke::Woken;
  if (waited != WSA_WAIT_EVENT_0 + 1) return Woke::Failed;
  WSANETWORKEVENTS happened{};
  if (::WSAEnumNetworkEvents(socket, state->socket, &happened) != 0) return Woke::Failed;
  // A reset connection is reported with its close, and a later recv may show it as an
  // orderly end: fail the wait, as the read it waits for would.
  if ((happened.lNetworkEvents & FD_CLOSE) != 0 && happened.iErrorCode[FD_CLOSE_BIT] != 0) {
    return Woke::Failed;
  }
  if (want != Want::Connect) return Woke::Ready;
  if ((happened.lNetworkEvents & FD_CONNECT) != 0) {
    return happened.iErrorCode[FD_CONNECT_BIT] == 0 ? Woke::Ready : Woke::Failed;
  }
  // Not the connection's outcome yet: the caller waits again.
  return (happened.lNetworkEvents & FD_WRITE) != 0 ? Woke::Ready : Woke::TimedOut;
}

}  // namespace net
}  // namespace tessum
