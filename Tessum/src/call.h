// An HTTP request that runs on the caller's thread from the connect to the last byte of the
// body (SMO_HttpCall_*): no pool thread touches it, so a nearby device's reply costs no
// thread hand-off. Another thread may only abort it, which wakes the caller's wait.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "http_exchange.h"
#include "net.h"

namespace tessum {

class Call {
 public:
  Call() = default;
  ~Call();
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  // Sends the request and reads the reply head, a Digest round included, under the request's
  // one time-out. `*code` gets the HTTP status number when a reply was read.
  uint32_t Run(const TessumHttpRequest &request, uint64_t *code);
  // One piece of the body, under a time-out of its own.
  uint32_t Read(void *buffer, uint32_t maximum, uint32_t timeout_ms, uint32_t *got);
  // Any thread, while the call exists: the caller's wait, now or next, ends with
  // TESSUM_E_WITHDRAWN.
  void Abort();

 private:
  class Deadline;
  uint32_t Attempt(const Deadline &deadline, http::ResponseHead *head);
  uint32_t Connect(const Deadline &deadline);
  uint32_t ConnectTo(const asio::ip::tcp::endpoint &to);
  uint32_t WaitConnected(const Deadline &deadline);
  uint32_t Lookup(const Deadline &deadline, std::vector<asio::ip::tcp::endpoint> *to);
  uint32_t Send(const std::string &bytes, const Deadline &deadline);
  uint32_t ReadHead(const Deadline &deadline, http::ResponseHead *head);
  uint32_t WaitFor(net::Want want, const Deadline &deadline);
  void CloseSocket();

  net::Waker waker_;
  std::atomic<bool> aborted_{false};
  asio::detail::socket_type socket_ = asio::detail::invalid_socket;
  Exchange exchange_;
  std::string head_bytes_;
  std::string carry_;      // body bytes that came with the head
  int64_t remaining_ = -1;  // body bytes still due; -1 until the peer closes
  bool eof_ = false;
  bool connecting_ = false;  // the connect is pending
  bool ready_ = false;  // the request succeeded: the body may be read
};

}  // namespace tessum
