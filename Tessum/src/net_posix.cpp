#include "net.h"

#include <errno.h>
#include <netinet/in.h>
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

namespace {

// One spare eventfd per thread, so that a thread that makes request after request makes its
// wake-up once. A state comes back here cleared, from a waker that nothing can wake any more.
struct Spare {
  Waker::State *state = nullptr;
  ~Spare();
};

thread_local Spare t_spare;

}  // namespace

Spare::~Spare() {
  if (state == nullptr) return;
  ::close(state->event);
  delete state;
}

Waker::State *Waker::Make() {
  if (t_spare.state != nullptr) {
    State *spare = t_spare.state;
    t_spare.state = nullptr;
    return spare;
  }
  int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (event < 0) return nullptr;
  State *state = new (std::nothrow) State;
  if (state == nullptr) {
    ::close(event);
    return nullptr;
  }
  state->event = event;
  return state;
}

void Waker::Destroy(State *state) {
  if (t_spare.state == nullptr) {
    t_spare.state = state;
    return;
  }
  ::close(state->event);
  delete state;
}

void Waker::Signal(State *state) {
  uint64_t one = 1;
  ssize_t ignored = ::write(state->event, &one, sizeof one);
  (void)ignored;
}

void Waker::Clear(State *state) {
  uint64_t count = 0;
  ssize_t ignored = ::read(state->event, &count, sizeof count);
  (void)ignored;
}

// One system call: the flags come with the socket.
asio::detail::socket_type Waker::NewSocket(int family) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? asio::detail::invalid_socket : fd;
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
  State *state = Made();
  if (state == nullptr) return Woke::Failed;
  pollfd fds[2] = {{state->event, POLLIN, 0}, {socket, EventsOf(want), 0}};
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
