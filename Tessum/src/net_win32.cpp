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

Waker::Waker() : state_(new (std::nothrow) State) {
  if (state_ == nullptr) return;
  state_->wake = ::WSACreateEvent();
  state_->socket = ::WSACreateEvent();
  if (state_->wake != WSA_INVALID_EVENT && state_->socket != WSA_INVALID_EVENT) return;
  if (state_->wake != WSA_INVALID_EVENT) ::WSACloseEvent(state_->wake);
  if (state_->socket != WSA_INVALID_EVENT) ::WSACloseEvent(state_->socket);
  delete state_;
  state_ = nullptr;
}

Waker::~Waker() {
  if (state_ == nullptr) return;
  ::WSACloseEvent(state_->wake);
  ::WSACloseEvent(state_->socket);
  delete state_;
}

void Waker::Wake() { ::WSASetEvent(state_->wake); }

void Waker::Drain() { ::WSAResetEvent(state_->wake); }

// Also makes the socket non-blocking.
bool Waker::Watch(asio::detail::socket_type socket) {
  ::WSAResetEvent(state_->socket);
  return ::WSAEventSelect(socket, state_->socket, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0;
}

Woke Waker::Wait(asio::detail::socket_type socket, Want want, int timeout_ms) {
  WSAEVENT events[2] = {state_->wake, state_->socket};
  const DWORD count = want == Want::Nothing ? 1 : 2;
  DWORD waited = ::WSAWaitForMultipleEvents(count, events, FALSE,
                                            timeout_ms < 0 ? WSA_INFINITE : static_cast<DWORD>(timeout_ms),
                                            FALSE);
  if (waited == WSA_WAIT_TIMEOUT) return Woke::TimedOut;
  if (waited == WSA_WAIT_EVENT_0) return Woke::Woken;
  if (waited != WSA_WAIT_EVENT_0 + 1) return Woke::Failed;
  WSANETWORKEVENTS happened{};
  if (::WSAEnumNetworkEvents(socket, state_->socket, &happened) != 0) return Woke::Failed;
  if (want != Want::Connect) return Woke::Ready;
  if ((happened.lNetworkEvents & FD_CONNECT) != 0) {
    return happened.iErrorCode[FD_CONNECT_BIT] == 0 ? Woke::Ready : Woke::Failed;
  }
  // Not the connection's outcome yet: the caller waits again.
  return (happened.lNetworkEvents & FD_WRITE) != 0 ? Woke::Ready : Woke::TimedOut;
}

}  // namespace net
}  // namespace tessum
