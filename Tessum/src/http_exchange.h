// What one HTTP request says and what its replies decide, shared by the request that the
// pool runs (http.cpp) and the one that runs on the caller's thread (call.cpp): the checked
// copy of the caller's record, the bytes to send, the Basic and Digest answers and the
// verdict on a reply head. Neither sockets nor threads here.
#pragma once

#include <cstdint>
#include <string>

#include "http_parse.h"
#include "tessum.h"

namespace tessum {

// What the request record said, checked and copied: the record is the caller's again as
// soon as the start returns.
struct Plan {
  std::string connect_host;
  uint16_t connect_port = 80;
  std::string host_header;  // host[:port] of the device
  std::string target;       // the request line's target: the path, or an absolute URI
  std::string path;
  std::string method;
  std::string body;
  bool post = false;
  bool use_proxy = false;
  std::string user, password, proxy_user, proxy_password;
  uint32_t timeout_ms = 0;
};

class Exchange {
 public:
  // Checks and copies the record; `token_timeout` stands in for a request time-out of 0.
  uint32_t Init(const TessumHttpRequest &request, uint32_t token_timeout);
  const Plan &plan() const { return plan_; }

  // The bytes of the current attempt.
  const std::string &Request();

  // The verdict on a complete reply head: true to send the request again on a new
  // connection (a Digest challenge answered, once); else false with the final status.
  bool Retry(const http::ResponseHead &head, uint32_t *status);

  // The body bytes that came with the head in `head_bytes`, cut to the declared length, and
  // the count still due (-1: until the peer closes).
  static std::string BodyStart(const std::string &head_bytes, const http::ResponseHead &head,
                               int64_t *remaining);

 private:
  bool AnswerDigest(const http::ResponseHead &head);

  Plan plan_;
  std::string authorization_;
  std::string request_;
  bool digest_sent_ = false;
};

// The status of a read on an HTTP body that found the peer closed: the normal end, or a
// failure when a declared length had not all arrived.
inline uint32_t BodyEndStatus(int64_t remaining) {
  return remaining > 0 ? TESSUM_E_HTTP : TESSUM_S_CLOSED;
}

}  // namespace tessum
