#include "http_exchange.h"

#include <cstring>

#include "digest.h"

namespace tessum {
namespace {

// A NUL-terminated field of `size` bytes as a string; false when it has no NUL or holds a
// byte that `bad` refuses.
template <class Bad>
bool Field(const char *field, size_t size, std::string *out, Bad bad) {
  const void *nul = std::memchr(field, '\0', size);
  if (nul == nullptr) return false;
  out->assign(field, static_cast<const char *>(nul) - field);
  for (char c : *out) {
    if (bad(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool BadInHeader(unsigned char c) { return c == '\r' || c == '\n'; }
bool BadInTarget(unsigned char c) { return c <= 0x20 || c == 0x7f; }
bool BadInHost(unsigned char c) {
  return c <= 0x20 || c == 0x7f || c == '/' || c == '?' || c == '#' || c == '@';
}

bool PortOf(uint32_t value, uint16_t *port) {
  if (value > 65535) return false;
  *port = value == 0 ? 80 : static_cast<uint16_t>(value);
  return true;
}

uint32_t MakePlan(const TessumHttpRequest &r, uint32_t token_timeout, Plan *plan) {
  std::string host, proxy_host;
  uint16_t port = 80, proxy_port = 80;
  if (!Field(r.conn.host, sizeof r.conn.host, &host, BadInHost) || host.empty() ||
      !PortOf(r.conn.port, &port)) {
    return TESSUM_E_INVALIDARG;
  }
  plan->use_proxy = r.conn.use_proxy != 0;
  if (plan->use_proxy &&
      (!Field(r.conn.proxy_host, sizeof r.conn.proxy_host, &proxy_host, BadInHost) ||
       proxy_host.empty() || !PortOf(r.conn.proxy_port, &proxy_port))) {
    return TESSUM_E_INVALIDARG;
  }
  if (!Field(r.path, sizeof r.path, &plan->path, BadInTarget) || plan->path.empty() ||
      plan->path[0] != '/') {
    return TESSUM_E_INVALIDARG;
  }
  if (!Field(r.user, sizeof r.user, &plan->user, BadInHeader) ||
      !Field(r.password, sizeof r.password, &plan->password, BadInHeader) ||
      !Field(r.proxy_user, sizeof r.proxy_user, &plan->proxy_user, BadInHeader) ||
      !Field(r.proxy_password, sizeof r.proxy_password, &plan->proxy_password, BadInHeader)) {
    return TESSUM_E_INVALIDARG;
  }
  if (r.method != TESSUM_HTTP_GET && r.method != TESSUM_HTTP_POST) return TESSUM_E_INVALIDARG;
  plan->post = r.method == TESSUM_HTTP_POST;
  plan->method = plan->post ? "POST" : "GET";
  if (plan->post && r.body != nullptr) plan->body.assign(r.body, r.body_length);
  plan->host_header = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != 80) plan->host_header += ":" + std::to_string(port);
  plan->connect_host = plan->use_proxy ? proxy_host : host;
  plan->connect_port = plan->use_proxy ? proxy_port : port;
  plan->target = plan->use_proxy ? "http://" + plan->host_header + plan->path : plan->path;
  plan->timeout_ms = r.timeout_ms != 0 ? r.timeout_ms : token_timeout;
  return TESSUM_OK;
}

std::string BuildRequest(const Plan &p, const std::string &authorization) {
  std::string out = p.method + " " + p.target + " HTTP/1.0\r\n";
  out += "Host: " + p.host_header + "\r\n";
  if (!authorization.empty()) out += "Authorization: " + authorization + "\r\n";
  if (p.use_proxy && !p.proxy_user.empty()) {
    out += "Proxy-Authorization: Basic " + http::Base64(p.proxy_user + ":" + p.proxy_password) +
           "\r\n";
  }
  out += "Connection: close\r\n";
  if (p.post) {
    out += "Content-Type: application/x-www-form-urlencoded\r\n";
    out += "Content-Length: " + std::to_string(p.body.size()) + "\r\n";
  }
  out += "\r\n";
  if (p.post) out += p.body;
  return out;
}

}  // namespace

uint32_t Exchange::Init(const TessumHttpRequest &request, uint32_t token_timeout) {
  uint32_t rc = MakePlan(request, token_timeout, &plan_);
  if (rc == TESSUM_OK && !plan_.user.empty()) {
    authorization_ = "Basic " + http::Base64(plan_.user + ":" + plan_.password);
  }
  return rc;
}

const std::string &Exchange::Request() {
  if (request_.empty()) request_ = BuildRequest(plan_, authorization_);
  return request_;
}

bool Exchange::Retry(const http::ResponseHead &head, uint32_t *status) {
  if (head.status == 401) {
    if (AnswerDigest(head)) {
      request_.clear();
      return true;
    }
    *status = TESSUM_E_HTTP_AUTH;
  } else if (head.status == 407) {
    *status = TESSUM_E_HTTP_AUTH;
  } else if (head.status == 404) {
    *status = TESSUM_E_HTTP_404;
  } else if (head.status < 200 || head.status > 299 || head.chunked) {
    *status = TESSUM_E_HTTP;
  } else {
    *status = TESSUM_OK;
  }
  return false;
}

// One Digest answer per request, and only to a device that asked for Digest.
bool Exchange::AnswerDigest(const http::ResponseHead &head) {
  if (digest_sent_ || plan_.user.empty()) return false;
  http::DigestChallenge challenge;
  if (!http::PickDigest(head.www_authenticate, &challenge)) return false;
  std::string cnonce = NewCnonce();
  authorization_ = DigestAuthorization(
      challenge, DigestInput{plan_.method, plan_.path, plan_.user, plan_.password, cnonce});
  digest_sent_ = true;
  return !authorization_.empty();
}

std::string Exchange::BodyStart(const std::string &head_bytes, const http::ResponseHead &head,
                                int64_t *remaining) {
  std::string body = head_bytes.substr(head.head_length);
  *remaining = -1;
  if (head.content_length >= 0) {
    if (body.size() > static_cast<uint64_t>(head.content_length)) {
      body.resize(static_cast<size_t>(head.content_length));
    }
    *remaining = head.content_length - static_cast<int64_t>(body.size());
  }
  return body;
}

}  // namespace tessum
