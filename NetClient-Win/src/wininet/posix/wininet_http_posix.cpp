// The HTTP side of the POSIX WinINet layer: session and request handles, the send with its
// challenge answers, proxies and TLS, body reads, and the queries the network client makes
// (see nc_wininet.h for the behaviour callers rely on).
//
// Each request handle owns one thread, started by its first send, that runs its operations
// (a send, then reads) one at a time and delivers their completions. The request's mu
// guards what the caller's threads share with that thread: the queued job, the response
// summary, the body bytes not yet handed out, the pending read's record and the socket
// number (which a closing thread only shuts down). The socket and the TLS session are used
// by the request's thread alone. mu is a leaf lock, never held while the status callback
// runs.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "wininet_http_posix_internal.h"
#include "wininet_posix_internal.h"

namespace ncwin {
namespace {

const size_t kRecvChunk = 16384;
const int kCancelPollMs = 100;  // how often a connect in progress looks for a close

struct Credential {
  std::string user, password;
};

struct HttpSession : Handle {
  HttpSession() : Handle(Kind::HttpSession) {}
  std::string host;
  uint16_t port = 0;
  std::mutex mu;
  Credential login;  // InternetConnectA's, or INTERNET_OPTION_USERNAME / PASSWORD on it
  Credential proxy;  // INTERNET_OPTION_PROXY_USERNAME / PASSWORD
};

// A challenge answered on this handle before, answered again at once on later sends.
struct Remembered {
  bool have = false;
  AuthChallenge challenge;
  uint32_t nc = 0;
};

struct HttpRequest : Handle {
  HttpRequest() : Handle(Kind::HttpRequest) {}
  std::shared_ptr<HttpSession> session;
  std::string verb, object;
  bool secure = false;

  std::mutex mu;
  std::condition_variable cv;
  bool has_user = false, has_password = false;
  Credential login;
  bool has_proxy_user = false, has_proxy_password = false;
  Credential proxy;
  std::function<void()> job;
  bool thread_started = false;
  bool busy = false;  // a send or a read is queued or running
  int fd = -1;
  // The response: its summary, and decoded body bytes not yet handed to the caller.
  bool have_response = false;
  int status = 0;
  bool has_length = false;
  std::string length_text;
  std::string body;
  bool body_done = false;
  DWORD body_error = 0;
  INTERNET_BUFFERSA *pending = nullptr;

  // The request's thread alone.
  Tls *tls = nullptr;
  std::unique_ptr<HttpResponseReader> reader;
  Remembered www, proxy_auth;
};

// Where a send connects, and how it speaks to it.
struct Route {
  std::string host;  // the origin, or the proxy
  uint16_t port = 0;
  bool via_proxy = false;
};

std::string HostPort(const HttpRequest &r) {
  const std::string &host = r.session->host;
  uint16_t port = r.session->port;
  std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  uint16_t standard = r.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  return port == standard ? text : text + ":" + std::to_string(port);
}

bool Bypassed(const std::string &bypass, const std::string &host) {
  size_t start = 0;
  while (start < bypass.size()) {
    size_t end = bypass.find_first_of("; ,", start);
    if (end == std::string::npos) end = bypass.size();
    std::string entry = bypass.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    if (entry == "<local>" ? host.find('.') == std::string::npos : WildcardMatch(entry, host)) {
      return true;
    }
  }
  return false;
}

// The proxy's host and port from "http://host:port" (the scheme and port optional).
bool ParseProxy(const std::string &proxy, std::string *host, uint16_t *port) {
  std::string rest = proxy;
  if (rest.compare(0, 5, "http=") == 0) rest.erase(0, 5);
  if (rest.compare(0, 7, "http://") == 0) rest.erase(0, 7);
  size_t slash = rest.find('/');
  if (slash != std::string::npos) rest.erase(slash);
  size_t colon = rest.rfind(':');
  *port = 80;
  if (colon != std::string::npos) {
    long p = strtol(rest.c_str() + colon + 1, nullptr, 10);
    if (p <= 0 || p > 65535) return false;
    *port = static_cast<uint16_t>(p);
    rest.erase(colon);
  }
  *host = rest;
  return !host->empty();
}

Route RouteOf(const HttpRequest &r) {
  Route route{r.session->host, r.session->port, false};
  std::string proxy, bypass;
  {
    std::lock_guard<std::mutex> lock(r.root->proxy_mu);
    proxy = r.root->proxy;
    bypass = r.root->bypass;
  }
  std::string host;
  uint16_t port = 0;
  if (proxy.empty() || Bypassed(bypass, r.session->host) || !ParseProxy(proxy, &host, &port)) {
    return route;
  }
  return Route{host, port, true};
}

// ---- The transport, on the request's thread --------------------------------------------

void SetSocket(HttpRequest *r, int fd) {
  std::lock_guard<std::mutex> lock(r->mu);
  r->fd = fd;
  if (fd >= 0 && r->closed) shutdown(fd, SHUT_RDWR);
}

void CloseTransport(HttpRequest *r) {
  TlsFree(r->tls);
  r->tls = nullptr;
  std::lock_guard<std::mutex> lock(r->mu);
  if (r->fd >= 0) close(r->fd);
  r->fd = -1;
}

// One address: a connect that a close of the handle cuts short (the socket is not
// connected yet, so shutting it down would not wake the wait).
DWORD ConnectOne(HttpRequest *r, const struct addrinfo *ai, int64_t deadline_ms) {
  int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
  if (fd < 0) return ERROR_INTERNET_CANNOT_CONNECT;
  SetSocket(r, fd);
  if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return ERROR_INTERNET_CANNOT_CONNECT;
  for (;;) {
    if (r->closed) return ERROR_INTERNET_OPERATION_CANCELLED;
    int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch()).count();
    // A connect that the peer never answers within the time-out is a failed connect, as a
    // refused one is: the caller's probe then tells the two apart.
    if (now >= deadline_ms) return ERROR_INTERNET_CANNOT_CONNECT;
    int slice = static_cast<int>(deadline_ms - now < kCancelPollMs ? deadline_ms - now : kCancelPollMs);
    struct pollfd p = {fd, POLLOUT, 0};
    int ready = poll(&p, 1, slice);
    if (ready < 0 && errno != EINTR) return ERROR_INTERNET_CANNOT_CONNECT;
    if (ready <= 0) continue;
    int soerr = 0;
    socklen_t len = sizeof soerr;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
    return soerr == 0 ? 0 : ERROR_INTERNET_CANNOT_CONNECT;
  }
}

DWORD Connect(HttpRequest *r, const std::string &host, uint16_t port) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) {
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  int64_t deadline = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch()).count() +
                     r->timeout_ms;
  DWORD err = ERROR_INTERNET_CANNOT_CONNECT;
  for (struct addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    err = ConnectOne(r, ai, deadline);
    if (err == 0) break;
    CloseTransport(r);
    if (err == ERROR_INTERNET_OPERATION_CANCELLED) break;
  }
  freeaddrinfo(list);
  if (err == 0) {
    int one = 1;
    setsockopt(r->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return err;
}

DWORD SendAll(HttpRequest *r, const std::string &bytes) {
  if (r->tls != nullptr) return TlsSend(r->tls, bytes.data(), bytes.size(), r->timeout_ms);
  return WireSend(r->fd, bytes.data(), bytes.size(), r->timeout_ms);
}

DWORD RecvSome(HttpRequest *r, char *buffer, size_t capacity, size_t *got) {
  *got = 0;
  if (r->tls != nullptr) return TlsRecv(r->tls, buffer, capacity, r->timeout_ms, got);
  for (;;) {
    struct pollfd p = {r->fd, POLLIN, 0};
    int ready = poll(&p, 1, r->timeout_ms);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ERROR_INTERNET_CONNECTION_ABORTED;
    }
    ssize_t n = recv(r->fd, buffer, capacity, 0);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR && errno != EAGAIN) return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

// Feeds the reader until its head is complete; body bytes that came with it go to *body.
DWORD ReadHead(HttpRequest *r, HttpResponseReader *reader, std::string *body) {
  char buffer[kRecvChunk];
  Notify(r, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
  DWORD err = 0;
  while (err == 0 && reader->state() == HttpResponseReader::State::Head) {
    size_t got = 0;
    err = RecvSome(r, buffer, sizeof buffer, &got);
    if (err == 0) got == 0 ? reader->PushEnd() : reader->Push(buffer, got, body);
  }
  Notify(r, INTERNET_STATUS_RESPONSE_RECEIVED, nullptr, 0);
  if (r->closed) return ERROR_INTERNET_OPERATION_CANCELLED;
  if (err != 0) return err;
  return reader->state() == HttpResponseReader::State::Failed ? ERROR_INTERNET_CONNECTION_ABORTED : 0;
}

// ---- The send ----------------------------------------------------------------------------

struct Answers {
  std::string www, proxy;  // header values, empty when not answered on this request
};

// The credentials a send uses: the request's own where set, else its session's.
Credential CredentialOf(HttpRequest *r, bool proxy) {
  Credential c;
  {
    std::lock_guard<std::mutex> lock(r->session->mu);
    c = proxy ? r->session->proxy : r->session->login;
  }
  std::lock_guard<std::mutex> lock(r->mu);
  const Credential &own = proxy ? r->proxy : r->login;
  if (proxy ? r->has_proxy_user : r->has_user) c.user = own.user;
  if (proxy ? r->has_proxy_password : r->has_password) c.password = own.password;
  return c;
}

std::string Answer(Remembered *m, const Credential &c, const std::string &method,
                   const std::string &uri) {
  if (!m->have || c.user.empty()) return std::string();
  return AnswerChallenge(m->challenge, c.user, c.password, method, uri, &m->nc);
}

std::string RequestHead(HttpRequest *r, const Route &route, const Answers &answers,
                        size_t body_length) {
  std::string target = route.via_proxy && !r->secure ? "http://" + HostPort(*r) + r->object : r->object;
  std::string head = r->verb + " " + target + " HTTP/1.1\r\nHost: " + HostPort(*r) + "\r\n";
  if (!r->root->agent.empty()) head += "User-Agent: " + r->root->agent + "\r\n";
  if (!answers.www.empty()) head += "Authorization: " + answers.www + "\r\n";
  if (!answers.proxy.empty() && !r->secure) head += "Proxy-Authorization: " + answers.proxy + "\r\n";
  if (body_length > 0 || r->verb == "POST") head += "Content-Length: " + std::to_string(body_length) + "\r\n";
  return head + "Connection: close\r\n\r\n";
}

// CONNECT through the proxy. A refusal (any status but 2xx) becomes the request's response
// in *reader; a tunnel leaves *reader empty.
DWORD OpenTunnel(HttpRequest *r, const Answers &answers, std::unique_ptr<HttpResponseReader> *reader,
                 std::string *body) {
  std::string authority = r->session->host + ":" + std::to_string(r->session->port);
  std::string head = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (!answers.proxy.empty()) head += "Proxy-Authorization: " + answers.proxy + "\r\n";
  head += "\r\n";
  DWORD err = SendAll(r, head);
  if (err != 0) return err;
  auto tunnel = std::make_unique<HttpResponseReader>(true);
  err = ReadHead(r, tunnel.get(), body);
  if (err != 0) return err;
  if (tunnel->status() / 100 != 2) *reader = std::move(tunnel);
  return 0;
}

// One request on a new connection, up to its response head.
DWORD SendOnce(HttpRequest *r, const Route &route, const Answers &answers, const std::string &payload,
               std::unique_ptr<HttpResponseReader> *reader, std::string *body) {
  CloseTransport(r);
  DWORD err = Connect(r, route.host, route.port);
  if (err != 0) return err;
  if (r->secure && route.via_proxy) {
    err = OpenTunnel(r, answers, reader, body);
    if (err != 0 || *reader) return err;
  }
  if (r->secure) {
    err = TlsConnect(r->fd, r->session->host, r->timeout_ms, &r->tls);
    if (err != 0) return err;
  }
  err = SendAll(r, RequestHead(r, route, answers, payload.size()) + payload);
  if (err != 0) return err;
  *reader = std::make_unique<HttpResponseReader>();
  return ReadHead(r, reader->get(), body);
}

// Remembers the challenge of a 401 or 407 when it is one we can answer. True when the
// credentials to answer it are there.
bool Remember(Remembered *m, const HttpResponseReader &reader, const char *header,
              const Credential &c) {
  AuthChallenge challenge;
  if (!PickChallenge(reader.HeaderValues(header), &challenge)) return false;
  m->have = true;
  m->challenge = challenge;
  m->nc = 0;
  return !c.user.empty();
}

void Publish(HttpRequest *r, std::unique_ptr<HttpResponseReader> reader, std::string body) {
  std::lock_guard<std::mutex> lock(r->mu);
  r->have_response = true;
  r->status = reader->status();
  const std::string *length = reader->Header("Content-Length");
  r->has_length = length != nullptr;
  r->length_text = length != nullptr ? *length : std::string();
  r->body = std::move(body);
  r->body_done = reader->state() == HttpResponseReader::State::Done;
  r->body_error = 0;
  r->reader = std::move(reader);
}

// The send: a refused answer is not repeated, so each kind of challenge costs at most one
// more request; then the response is published.
DWORD Exchange(HttpRequest *r, const std::string &payload) {
  Route route = RouteOf(*r);
  std::string uri = route.via_proxy && !r->secure ? "http://" + HostPort(*r) + r->object : r->object;
  std::string connect_uri = r->session->host + ":" + std::to_string(r->session->port);
  bool sent_www = false, sent_proxy = false;
  for (;;) {
    Credential login = CredentialOf(r, false), proxy = CredentialOf(r, true);
    Answers answers;
    answers.www = Answer(&r->www, login, r->verb, uri);
    if (route.via_proxy) {
      answers.proxy = Answer(&r->proxy_auth, proxy, r->secure ? "CONNECT" : r->verb,
                             r->secure ? connect_uri : uri);
    }
    bool refused_www = sent_www, refused_proxy = sent_proxy;
    sent_www = sent_www || !answers.www.empty();
    sent_proxy = sent_proxy || !answers.proxy.empty();
    std::unique_ptr<HttpResponseReader> reader;
    std::string body;
    DWORD err = SendOnce(r, route, answers, payload, &reader, &body);
    if (err != 0) return err;
    int status = reader->status();
    bool retry = false;
    if (status == 401) {
      retry = Remember(&r->www, *reader, "WWW-Authenticate", login) && answers.www.empty() && !refused_www;
    } else if (status == 407 && route.via_proxy) {
      retry = Remember(&r->proxy_auth, *reader, "Proxy-Authenticate", proxy) &&
              answers.proxy.empty() && !refused_proxy;
    }
    if (retry) continue;
    if (reader->state() == HttpResponseReader::State::Done) CloseTransport(r);
    Publish(r, std::move(reader), std::move(body));
    return 0;
  }
}

void Deliver(HttpRequest *r, DWORD_PTR result, DWORD error) {
  {
    std::lock_guard<std::mutex> lock(r->mu);
    r->busy = false;
  }
  if (r->closed) return;  // a cancelled operation reports nothing
  INTERNET_ASYNC_RESULT res = {result, error};
  Notify(r, INTERNET_STATUS_REQUEST_COMPLETE, &res, sizeof res);
}

// ---- Body reads --------------------------------------------------------------------------

// Reads until body bytes are there, the body ended or failed. On the request's thread.
void FetchBody(HttpRequest *r) {
  char buffer[kRecvChunk];
  HttpResponseReader *reader = r->reader.get();
  Notify(r, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
  DWORD err = 0;
  std::string more;
  while (more.empty() && reader->state() == HttpResponseReader::State::Body) {
    size_t got = 0;
    err = RecvSome(r, buffer, sizeof buffer, &got);
    if (err != 0) break;
    got == 0 ? reader->PushEnd() : reader->Push(buffer, got, &more);
  }
  Notify(r, INTERNET_STATUS_RESPONSE_RECEIVED, nullptr, 0);
  if (err == 0 && reader->state() == HttpResponseReader::State::Failed) {
    err = ERROR_INTERNET_CONNECTION_ABORTED;
  }
  bool done = reader->state() == HttpResponseReader::State::Done;
  if (done || err != 0) CloseTransport(r);
  std::lock_guard<std::mutex> lock(r->mu);
  r->body += more;
  r->body_done = done;
  r->body_error = err;
}

// Hands out body bytes into the record. Caller holds r->mu.
void TakeBody(HttpRequest *r, INTERNET_BUFFERSA *buffers) {
  size_t n = r->body.size() < buffers->dwBufferLength ? r->body.size() : buffers->dwBufferLength;
  if (n > 0) memcpy(buffers->lpvBuffer, r->body.data(), n);
  r->body.erase(0, n);
  buffers->dwBufferLength = static_cast<DWORD>(n);
}

void ReadJob(HttpRequest *r) {
  FetchBody(r);
  DWORD error = 0;
  {
    std::lock_guard<std::mutex> lock(r->mu);
    if (r->closed || r->pending == nullptr) {
      r->pending = nullptr;
    } else {
      TakeBody(r, r->pending);
      if (r->pending->dwBufferLength == 0) error = r->body_error;
      r->pending = nullptr;
    }
  }
  Deliver(r, error == 0, error);
}

// ---- The request's thread ----------------------------------------------------------------

void RequestThread(std::shared_ptr<HttpRequest> r, std::shared_ptr<std::atomic<bool>> done) {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(r->mu);
      r->cv.wait(lock, [&] { return r->closed || r->job; });
      if (r->closed) break;  // a close cancels a queued job as well
      job.swap(r->job);
    }
    job();
  }
  CloseTransport(r.get());
  r->reader.reset();
  *done = true;
}

// Queues the request's next operation. Caller holds r->mu.
void QueueJob(const std::shared_ptr<HttpRequest> &r, std::function<void()> job) {
  r->busy = true;
  r->job = std::move(job);
  if (!r->thread_started) {
    r->thread_started = true;
    std::shared_ptr<HttpRequest> keep = r;
    StartThread(r->root.get(), [keep](std::shared_ptr<std::atomic<bool>> done) {
      RequestThread(keep, done);
    });
  }
  r->cv.notify_all();
}

BOOL CopyOut(const std::string &text, LPVOID buffer, LPDWORD length) {
  if (length == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (buffer == nullptr || *length <= text.size()) {
    *length = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

std::string OptionText(LPVOID buffer, DWORD length) {
  const char *p = static_cast<const char *>(buffer);
  return std::string(p, strnlen(p, length));
}

}  // namespace

HINTERNET HttpConnect(const std::shared_ptr<Root> &root, LPCSTR host, INTERNET_PORT port,
                      LPCSTR user, LPCSTR password, DWORD_PTR context) {
  auto session = std::make_shared<HttpSession>();
  session->root = root;
  session->host = host;
  session->port = port != 0 ? port : INTERNET_DEFAULT_HTTP_PORT;
  session->login.user = user != nullptr ? user : "";
  session->login.password = password != nullptr ? password : "";
  session->context = context;
  session->timeout_ms = root->timeout_ms.load();
  Register(session);
  NotifyCreated(session.get());
  return session->id;
}

BOOL HttpClose(const std::shared_ptr<Handle> &h) {
  if (h->kind == Kind::HttpRequest) {
    auto *r = static_cast<HttpRequest *>(h.get());
    std::lock_guard<std::mutex> lock(r->mu);
    // After this nothing is written into the caller's record or buffer.
    r->pending = nullptr;
    if (r->fd >= 0) shutdown(r->fd, SHUT_RDWR);
    r->cv.notify_all();
  }
  NotifyClosing(h.get());
  return TRUE;
}

BOOL HttpSetCredential(const std::shared_ptr<Handle> &h, DWORD option, LPVOID buffer,
                       DWORD length) {
  std::string text = OptionText(buffer, length);
  bool proxy = option == INTERNET_OPTION_PROXY_USERNAME || option == INTERNET_OPTION_PROXY_PASSWORD;
  bool is_user = option == INTERNET_OPTION_USERNAME || option == INTERNET_OPTION_PROXY_USERNAME;
  if (h->kind == Kind::HttpSession) {
    auto *s = static_cast<HttpSession *>(h.get());
    std::lock_guard<std::mutex> lock(s->mu);
    Credential &c = proxy ? s->proxy : s->login;
    (is_user ? c.user : c.password) = text;
    return TRUE;
  }
  if (h->kind != Kind::HttpRequest) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  auto *r = static_cast<HttpRequest *>(h.get());
  std::lock_guard<std::mutex> lock(r->mu);
  Credential &c = proxy ? r->proxy : r->login;
  (is_user ? c.user : c.password) = text;
  bool &flag = proxy ? (is_user ? r->has_proxy_user : r->has_proxy_password)
                     : (is_user ? r->has_user : r->has_password);
  flag = true;
  return TRUE;
}

}  // namespace ncwin

using namespace ncwin;

HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR, LPCSTR,
                           LPCSTR *, DWORD flags, DWORD_PTR context) {
  auto session = LookupAs<HttpSession>(connection, Kind::HttpSession);
  if (!session) return Fail(ERROR_INVALID_HANDLE), nullptr;
  auto r = std::make_shared<HttpRequest>();
  r->root = session->root;
  r->session = session;
  r->verb = verb != nullptr && *verb != '\0' ? verb : "GET";
  r->object = object != nullptr && *object != '\0' ? object : "/";
  if (r->object[0] != '/') r->object = "/" + r->object;
  // Bytes that would end the request line or the head never reach the wire.
  if (r->object.find_first_of(" \r\n") != std::string::npos ||
      r->verb.find_first_of(" \r\n") != std::string::npos) {
    return Fail(ERROR_INTERNET_INVALID_URL), nullptr;
  }
  r->secure = (flags & INTERNET_FLAG_SECURE) != 0;
  r->context = context;
  r->timeout_ms = session->timeout_ms.load();
  Register(r);
  NotifyCreated(r.get());
  return r->id;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR, DWORD, LPVOID optional, DWORD optional_length) {
  auto r = LookupAs<HttpRequest>(request, Kind::HttpRequest);
  if (!r) return Fail(ERROR_INVALID_HANDLE);
  if (optional == nullptr && optional_length > 0) return Fail(ERROR_INVALID_PARAMETER);
  std::string payload(static_cast<const char *>(optional), optional != nullptr ? optional_length : 0);
  std::lock_guard<std::mutex> lock(r->mu);
  if (r->busy) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  r->have_response = false;
  r->body.clear();
  r->body_done = false;
  r->body_error = 0;
  HttpRequest *raw = r.get();
  QueueJob(r, [raw, payload] {
    DWORD err = Exchange(raw, payload);
    if (err != 0) CloseTransport(raw);
    Deliver(raw, err == 0, err);
  });
  return Fail(ERROR_IO_PENDING);
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD length, LPDWORD) {
  auto r = LookupAs<HttpRequest>(request, Kind::HttpRequest);
  if (!r) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(r->mu);
  if (!r->have_response) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  switch (info_level & 0xFFFF) {
    case HTTP_QUERY_STATUS_CODE:
      return CopyOut(std::to_string(r->status), buffer, length);
    case HTTP_QUERY_CONTENT_LENGTH:
      if (!r->has_length) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
      return CopyOut(r->length_text, buffer, length);
    default:
      return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
  }
}

BOOL InternetReadFileExA(HINTERNET request, LPINTERNET_BUFFERSA buffers, DWORD, DWORD_PTR) {
  auto r = LookupAs<HttpRequest>(request, Kind::HttpRequest);
  if (!r) return Fail(ERROR_INVALID_HANDLE);
  if (buffers == nullptr || (buffers->lpvBuffer == nullptr && buffers->dwBufferLength > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard<std::mutex> lock(r->mu);
  if (!r->have_response || r->busy) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (!r->body.empty() || r->body_done || buffers->dwBufferLength == 0) {
    TakeBody(r.get(), buffers);
    return TRUE;
  }
  if (r->body_error != 0) return Fail(r->body_error);
  r->pending = buffers;
  HttpRequest *raw = r.get();
  QueueJob(r, [raw] { ReadJob(raw); });
  return Fail(ERROR_IO_PENDING);
}

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD length) {
  std::shared_ptr<Handle> h = Lookup(handle);
  if (!h || h->closed) return Fail(ERROR_INVALID_HANDLE);
  if (option != INTERNET_OPTION_USERNAME && option != INTERNET_OPTION_PASSWORD) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  Credential c;
  if (h->kind == Kind::HttpRequest) {
    c = CredentialOf(static_cast<HttpRequest *>(h.get()), false);
  } else if (h->kind == Kind::HttpSession) {
    auto *s = static_cast<HttpSession *>(h.get());
    std::lock_guard<std::mutex> lock(s->mu);
    c = s->login;
  } else {
    return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  return CopyOut(option == INTERNET_OPTION_USERNAME ? c.user : c.password, buffer, length);
}

DWORD InternetErrorDlg(HWND, HINTERNET, DWORD, DWORD, LPVOID *) { return ERROR_CANCELLED; }
