// The request on the caller's thread. Every wait covers the socket and the waker together,
// so an abort from another thread ends it at once; the socket is closed only by the caller,
// never by the thread that aborts, since descriptor numbers are reused.
//
// A host name is looked up on a thread of its own, because the system's lookup cannot be
// interrupted: the call waits for it within its time-out and abandons it on an abort or a
// time-out; the lookup then ends by the system resolver's own bound and touches nothing of
// the call. The thread starts in the caller's network namespace, as the connect does.
#include "call.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessum {

using tcp = asio::ip::tcp;
namespace socket_ops = asio::detail::socket_ops;

// The time left of a bound, rounded up to whole milliseconds so that no wait ends before
// the bound.
class Call::Deadline {
 public:
  explicit Deadline(uint32_t timeout_ms)
      : bounded_(timeout_ms != 0),
        end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms)) {}
  bool Passed() const { return bounded_ && std::chrono::steady_clock::now() >= end_; }
  int WaitMs() const {
    if (!bounded_) return -1;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        end_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>((left.count() + 999) / 1000);
  }

 private:
  bool bounded_;
  std::chrono::steady_clock::time_point end_;
};

namespace {

// What a lookup thread and the call share. The call clears `waker` when it stops waiting.
struct LookupState {
  std::mutex mu;
  net::Waker *waker = nullptr;
  bool done = false;
  std::vector<tcp::endpoint> found;
};

void LookUp(const std::shared_ptr<LookupState> &state, const std::string &host, uint16_t port) {
  asio::error_code ec;
  asio::io_context io(1);
  tcp::resolver resolver(io);
  tcp::resolver::results_type results = resolver.resolve(host, std::to_string(port), ec);
  std::lock_guard<std::mutex> lock(state->mu);
  state->done = true;
  if (!ec) {
    for (const auto &entry : results) state->found.push_back(entry.endpoint());
  }
  if (state->waker != nullptr) state->waker->Wake();
}

bool WouldBlock(const asio::error_code &ec) {
  return ec == asio::error::would_block || ec == asio::error::try_again ||
         ec == asio::error::in_progress;
}

}  // namespace

Call::~Call() { CloseSocket(); }

void Call::Abort() {
  aborted_.store(true, std::memory_order_release);
  waker_.Wake();
}

void Call::CloseSocket() {
  if (socket_ == asio::detail::invalid_socket) return;
  socket_ops::state_type state = socket_ops::user_set_non_blocking;
  asio::error_code ignored;
  socket_ops::close(socket_, state, false, ignored);
  socket_ = asio::detail::invalid_socket;
}

uint32_t Call::WaitFor(net::Want want, const Deadline &deadline) {
  for (;;) {
    if (aborted_.load(std::memory_order_acquire)) return TESSUM_E_WITHDRAWN;
    if (deadline.Passed()) return TESSUM_E_TIMEOUT;
    switch (waker_.Wait(socket_, want, deadline.WaitMs())) {
      case net::Woke::Ready:
        return TESSUM_OK;
      case net::Woke::Failed:
        return want == net::Want::Read || want == net::Want::Write ? TESSUM_E_SOCKET
                                                                   : TESSUM_E_CONNECT;
      case net::Woke::Woken:
        if (want == net::Want::Nothing) return TESSUM_OK;
        break;
      case net::Woke::TimedOut:
        break;
    }
  }
}

uint32_t Call::Lookup(const Deadline &deadline, std::vector<tcp::endpoint> *to) {
  auto state = std::make_shared<LookupState>();
  state->waker = &waker_;
  const Plan &plan = exchange_.plan();
  try {
    std::thread(LookUp, state, plan.connect_host, plan.connect_port).detach();
  } catch (const std::exception &) {
    return TESSUM_E_NOMEM;
  }
  uint32_t rc = TESSUM_OK;
  for (;;) {
    rc = WaitFor(net::Want::Nothing, deadline);
    std::lock_guard<std::mutex> lock(state->mu);
    // The wake-up may be the lookup's or an abort's: an abort sets its mark before it
    // wakes, so a mark read after the drain is never missed, and every later wait reads
    // the mark before it waits.
    waker_.Drain();
    if (rc == TESSUM_OK && aborted_.load(std::memory_order_acquire)) rc = TESSUM_E_WITHDRAWN;
    if (rc != TESSUM_OK || state->done) {
      state->waker = nullptr;
      to->swap(state->found);
      break;
    }
  }
  if (rc != TESSUM_OK) return rc;
  return to->empty() ? TESSUM_E_CONNECT : TESSUM_OK;
}

// A connection still being made is not waited for here: a nearby peer's is made by the
// time the request goes out, and the send waits for it otherwise.
uint32_t Call::ConnectTo(const tcp::endpoint &to) {
  CloseSocket();
  socket_ = waker_.NewSocket(to.protocol().family());
  if (socket_ == asio::detail::invalid_socket) return TESSUM_E_CONNECT;
  asio::error_code ec;
  socket_ops::connect(socket_, to.data(), to.size(), ec);
  connecting_ = WouldBlock(ec);
  return !ec || connecting_ ? TESSUM_OK : TESSUM_E_CONNECT;
}

// Each address of a name in turn ("localhost" may give ::1 before 127.0.0.1).
uint32_t Call::Connect(const Deadline &deadline) {
  const Plan &plan = exchange_.plan();
  std::vector<tcp::endpoint> to;
  asio::error_code ec;
  asio::ip::address address = asio::ip::make_address(plan.connect_host, ec);
  if (!ec) {
    to.emplace_back(address, plan.connect_port);
  } else {
    uint32_t rc = Lookup(deadline, &to);
    if (rc != TESSUM_OK) return rc;
  }
  uint32_t rc = TESSUM_E_CONNECT;
  for (const tcp::endpoint &endpoint : to) {
    rc = ConnectTo(endpoint);
    if (rc == TESSUM_OK && connecting_ && to.size() > 1) rc = WaitConnected(deadline);
    if (rc != TESSUM_E_CONNECT) break;
  }
  return rc;
}

uint32_t Call::WaitConnected(const Deadline &deadline) {
  uint32_t rc = WaitFor(net::Want::Connect, deadline);
  if (rc == TESSUM_OK) connecting_ = false;
  return rc;
}

uint32_t Call::Send(const std::string &bytes, const Deadline &deadline) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    asio::error_code ec;
    asio::detail::signed_size_type n =
        socket_ops::send1(socket_, bytes.data() + sent, bytes.size() - sent, 0, ec);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      connecting_ = false;
      continue;
    }
    // Refused while the connection is still being made; a connection that failed shows
    // here as a failed send.
    if (connecting_ && (WouldBlock(ec) || ec == asio::error::not_connected)) {
      uint32_t rc = WaitConnected(deadline);
      if (rc != TESSUM_OK) return rc;
      continue;
    }
    if (!WouldBlock(ec)) return connecting_ ? TESSUM_E_CONNECT : TESSUM_E_SOCKET;
    uint32_t rc = WaitFor(net::Want::Write, deadline);
    if (rc != TESSUM_OK) return rc;
  }
  return TESSUM_OK;
}

uint32_t Call::ReadHead(const Deadline &deadline, http::ResponseHead *head) {
  char piece[4096];
  for (;;) {
    asio::error_code ec;
    asio::detail::signed_size_type n = socket_ops::recv1(socket_, piece, sizeof piece, 0, ec);
    if (n > 0) {
      head_bytes_.append(piece, static_cast<size_t>(n));
      switch (http::ParseResponseHead(head_bytes_, head)) {
        case http::HeadResult::Complete:
          return TESSUM_OK;
        case http::HeadResult::Malformed:
        case http::HeadResult::TooLarge:
          return TESSUM_E_HTTP;
        case http::HeadResult::Incomplete:
          continue;
      }
    }
    // The peer closing in the middle of the head is a failure, never the normal end.
    if (n == 0) return TESSUM_E_HTTP;
    if (!WouldBlock(ec)) return TESSUM_E_SOCKET;
    uint32_t rc = WaitFor(net::Want::Read, deadline);
    if (rc != TESSUM_OK) return rc;
  }
}

uint32_t Call::Attempt(const Deadline &deadline, http::ResponseHead *head) {
  head_bytes_.clear();
  // An abort that came first keeps the request off the network altogether.
  if (aborted_.load(std::memory_order_acquire)) return TESSUM_E_WITHDRAWN;
  uint32_t rc = Connect(deadline);
  if (rc == TESSUM_OK) rc = Send(exchange_.Request(), deadline);
  if (rc == TESSUM_OK) rc = ReadHead(deadline, head);
  return rc;
}

uint32_t Call::Run(const TessumHttpRequest &request, uint64_t *code) {
  if (ready_ || socket_ != asio::detail::invalid_socket) return TESSUM_E_BUSY;
  uint32_t rc = exchange_.Init(request, 0);
  if (rc != TESSUM_OK) return rc;
  const Deadline deadline(exchange_.plan().timeout_ms);
  http::ResponseHead head;
  for (;;) {
    head = http::ResponseHead();
    rc = Attempt(deadline, &head);
    if (rc != TESSUM_OK) return rc;
    *code = static_cast<uint64_t>(head.status);
    if (!exchange_.Retry(head, &rc)) break;
  }
  if (rc != TESSUM_OK) return rc;
  carry_ = Exchange::BodyStart(head_bytes_, head, &remaining_);
  head_bytes_.clear();
  ready_ = true;
  return TESSUM_OK;
}

uint32_t Call::Read(void *buffer, uint32_t maximum, uint32_t timeout_ms, uint32_t *got) {
  *got = 0;
  if (!ready_) return TESSUM_E_BUSY;
  if (aborted_.load(std::memory_order_acquire)) return TESSUM_E_WITHDRAWN;
  if (!carry_.empty()) {
    size_t n = std::min<size_t>(maximum, carry_.size());
    std::memcpy(buffer, carry_.data(), n);
    carry_.erase(0, n);
    *got = static_cast<uint32_t>(n);
    return TESSUM_OK;
  }
  if (eof_ || remaining_ == 0) return BodyEndStatus(remaining_);
  size_t limit = maximum;
  if (remaining_ > 0) limit = std::min<size_t>(limit, static_cast<size_t>(remaining_));
  const Deadline deadline(timeout_ms);
  for (;;) {
    asio::error_code ec;
    asio::detail::signed_size_type n = socket_ops::recv1(socket_, buffer, limit, 0, ec);
    if (n > 0) {
      if (remaining_ > 0) remaining_ -= n;
      *got = static_cast<uint32_t>(n);
      return TESSUM_OK;
    }
    if (n == 0) {
      eof_ = true;
      return BodyEndStatus(remaining_);
    }
    if (!WouldBlock(ec)) return TESSUM_E_SOCKET;
    uint32_t rc = WaitFor(net::Want::Read, deadline);
    if (rc != TESSUM_OK) return rc;
  }
}

}  // namespace tessum
