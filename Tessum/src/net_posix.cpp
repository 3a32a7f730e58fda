#include "net.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessum {
namespace net {

// A loopback or nearby peer's connect returns 0 at once, and a pending one is waited for by
// the io_context's own epoll.
bool ConnectMayFinishAtOnce() { return true; }

void KeepFromChildren(asio::detail::socket_type socket) {
  int flags = ::fcntl(socket, F_GETFD);
  if (flags >= 0) ::fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
}

struct Waker::State {
  int event = -1;
};

Waker::Waker() : state_(new (std::nothrow) State) {
  if (state_ == nullptr) return;
  state_->event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state_->event >= 0) return;
  delete state_;
  state_ = nullptr;
}

Waker::~Waker() {
  if (state_ == nullptr) return;
  ::close(state_->event);
  delete state_;
}

void Waker::Wake() {
  uint64_t one = 1;
  ssize_t ignored = ::write(state_->event, &one, sizeof one);
  (void)ignored;
}

void Waker::Drain() {
  uint64_t count = 0;
  ssize_t ignored = ::read(state_->event, &count, sizeof count);
  (void)ignored;
}

bool Waker::Watch(asio::detail::socket_type socket) {
  int flags = ::fcntl(socket, F_GETFL);
  return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

namespace {

short EventsOf(Want want) {
  switch (want) {
    case Want::Connect:
    case Want::Write:
      return POLLOUT;
    case Want::Read:
      return POLLIN;
    case Want::Nothing:
      break;
  }
  return 0;
}

Woke ConnectOutcome(int socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return Woke::Failed;
  return error == 0 ? Woke::Ready : Woke::Failed;
}

}  // namespace

Woke Waker::Wait(asio::detail::socket_type socket, Want want, int timeout_ms) {
  pollfd fds[2] = {{state_->event, POLLIN, 0}, {socket, EventsOf(want), 0}};
  const nfds_t count = want == Want::Nothing ? 1 : 2;
  int n = ::poll(fds, count, timeout_ms);
  if (n < 0) return errno == EINTR ? Woke::TimedOut : Woke::Failed;
  if (n == 0) return Woke::TimedOut;
  if (fds[0].revents != 0) return Woke::Woken;
  // A failed connection shows as an error or a hang-up; the socket error tells which.
  if (want == Want::Connect) return ConnectOutcome(socket);
  return Woke::Ready;
}

}  // namespace net
}  // namespace tessum
