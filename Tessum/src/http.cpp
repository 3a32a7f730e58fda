// HTTP/1.0 requests: connect (to the device or the proxy), send, read the reply head,
// answer one Digest challenge on a new connection, and leave the body to reads on the
// handle. The whole exchange up to the reply head runs under one time-out.
#include "http.h"

#include <cstring>

#include "http_exchange.h"
#include "net.h"
#include "transport.h"

namespace tessum {
namespace {

using tcp = asio::ip::tcp;
namespace socket_ops = asio::detail::socket_ops;

class HttpOp : public Op {
 public:
  HttpOp(std::shared_ptr<Transport> t, TessumToken *token, TessumCallback callback,
         void *context, Exchange exchange)
      : Op(t->agent, token, callback, context),
        t_(std::move(t)),
        exchange_(std::move(exchange)),
        resolver_(t_->sock.get_executor()) {}

  // Under t_->mu.
  void Connect() {
    asio::error_code ec;
    const Plan &plan = exchange_.plan();
    asio::ip::address address = asio::ip::make_address(plan.connect_host, ec);
    if (!ec) {
      ConnectTo(tcp::endpoint(address, plan.connect_port));
      return;
    }
    resolver_.async_resolve(plan.connect_host, std::to_string(plan.connect_port),
                            [self = Self()](const asio::error_code &e,
                                            tcp::resolver::results_type results) {
                              self->OnResolved(e, std::move(results));
                            });
  }

  void CancelIo() override {
    std::lock_guard<std::mutex> lock(t_->mu);
    if (t_->main.get() != this) return;
    t_->main.reset();
    resolver_.cancel();
    asio::error_code ignored;
    t_->sock.close(ignored);
  }

 private:
  using Lock = std::unique_lock<std::mutex>;

  std::shared_ptr<HttpOp> Self() { return std::static_pointer_cast<HttpOp>(shared_from_this()); }

  // Under t_->mu. The connection is made and the request sent on the calling thread when the
  // peer answers at once (a device nearby): handing that work to the pool would cost a
  // thread hand-off per request. Otherwise the pool waits for the connection. Either way the
  // completion comes from the pool.
  void ConnectTo(const tcp::endpoint &to) {
    if (!net::ConnectMayFinishAtOnce()) {
      asio::error_code opened;
      t_->sock.open(to.protocol(), opened);
      if (opened) return Fail(TESSUM_E_CONNECT);
      net::KeepFromChildren(t_->sock.native_handle());
      t_->sock.async_connect(to, [self = Self()](const asio::error_code &e) {
        self->OnConnected(e);
      });
      return;
    }
    asio::error_code ec;
    socket_ops::state_type state = 0;
    asio::detail::socket_type fd =
        socket_ops::socket(to.protocol().family(), SOCK_STREAM, IPPROTO_TCP, ec);
    if (fd == asio::detail::invalid_socket) return Fail(TESSUM_E_CONNECT);
    net::KeepFromChildren(fd);
    if (socket_ops::set_user_non_blocking(fd, state, true, ec)) {
      socket_ops::connect(fd, to.data(), to.size(), ec);
    }
    const bool pending = ec == asio::error::in_progress || ec == asio::error::would_block;
    // Registered with the pool only now: a socket registered before its connect reports a
    // hang-up at once, which would wake a pool thread for nothing.
    asio::error_code assigned;
    if (!ec || pending) t_->sock.assign(to.protocol(), fd, assigned);
    if ((ec && !pending) || assigned) {
      asio::error_code ignored;
      if (!t_->sock.is_open()) socket_ops::close(fd, state, false, ignored);
      return Fail(TESSUM_E_CONNECT);
    }
    t_->sock.non_blocking(true, ec);
    t_->PublishSocket();
    connected_ = !pending;
    Send();
  }

  // Under t_->mu.
  void WaitConnected() {
    t_->sock.async_wait(tcp::socket::wait_write,
                        [self = Self()](const asio::error_code &e) { self->OnWritable(e); });
  }

  void OnWritable(const asio::error_code &ec) {
    Lock lock(t_->mu);
    if (Claimed()) return;
    if (ec) return End(lock, Status(ec, TESSUM_E_CONNECT), 0);
    asio::error_code result;
    // Readiness may be reported before the connection is settled: wait again then.
    if (!socket_ops::non_blocking_connect(t_->sock.native_handle(), result)) return WaitConnected();
    if (result) return End(lock, TESSUM_E_CONNECT, 0);
    connected_ = true;
    Send();
  }

  // Under t_->mu: sends what the socket takes at once and leaves the rest to the pool. Sent
  // on a connection still being made, the request is refused and waits for the connection;
  // a connection that failed shows here as a failed send.
  void Send() {
    const std::string &request = exchange_.Request();
    asio::error_code ec;
    size_t sent = t_->sock.write_some(asio::buffer(request), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again ||
        ec == asio::error::not_connected) {
      if (!connected_) return WaitConnected();
      sent = 0;
    } else if (ec) {
      return Fail(connected_ ? TESSUM_E_SOCKET : TESSUM_E_CONNECT);
    }
    connected_ = true;
    if (sent == request.size()) return ReadHead();
    asio::async_write(t_->sock, asio::buffer(request.data() + sent, request.size() - sent),
                      [self = Self()](const asio::error_code &e, size_t) { self->OnSent(e); });
  }

  // Under t_->mu: ends the request with `status` from the pool, whatever thread found it.
  void Fail(uint32_t status) {
    asio::post(t_->sock.get_executor(), [self = Self(), status] {
      Lock lock(self->t_->mu);
      self->End(lock, status, 0);
    });
  }

  void OnResolved(const asio::error_code &ec, tcp::resolver::results_type results) {
    Lock lock(t_->mu);
    if (Claimed()) return;
    if (ec || results.empty()) return End(lock, Status(ec, TESSUM_E_CONNECT), 0);
    // Each address of the name in turn ("localhost" may give ::1 before 127.0.0.1).
    asio::async_connect(t_->sock, results,
                        [self = Self()](const asio::error_code &e, const tcp::endpoint &) {
                          self->OnConnected(e);
                        });
  }

  void OnConnected(const asio::error_code &ec) {
    Lock lock(t_->mu);
    if (Claimed()) return;
    if (ec) return End(lock, Status(ec, TESSUM_E_CONNECT), 0);
    // Connecting to each address of a name in turn opens a socket for each, out of our reach
    // until here.
    net::KeepFromChildren(t_->sock.native_handle());
    t_->PublishSocket();
    asio::error_code ignored;
    t_->sock.non_blocking(true, ignored);
    connected_ = true;
    Send();
  }

  void OnSent(const asio::error_code &ec) {
    Lock lock(t_->mu);
    if (Claimed()) return;
    if (ec) return End(lock, Status(ec, TESSUM_E_SOCKET), 0);
    ReadHead();
  }

  // Under t_->mu.
  void ReadHead() {
    t_->sock.async_read_some(asio::buffer(piece_), [self = Self()](const asio::error_code &e,
                                                                   size_t n) {
      self->OnHeadPiece(e, n);
    });
  }

  void OnHeadPiece(const asio::error_code &ec, size_t n) {
    Lock lock(t_->mu);
    if (Claimed()) return;
    head_bytes_.append(piece_, n);
    http::ResponseHead head;
    switch (http::ParseResponseHead(head_bytes_, &head)) {
      case http::HeadResult::Complete:
        return Evaluate(lock, head);
      case http::HeadResult::Malformed:
      case http::HeadResult::TooLarge:
        return End(lock, TESSUM_E_HTTP, 0);
      case http::HeadResult::Incomplete:
        break;
    }
    // The peer closing in the middle of the head is a failure, never the normal end.
    if (ec == asio::error::eof) return End(lock, TESSUM_E_HTTP, 0);
    if (ec) return End(lock, Status(ec, TESSUM_E_SOCKET), 0);
    ReadHead();
  }

  void Evaluate(Lock &lock, const http::ResponseHead &head) {
    const uint64_t code = static_cast<uint64_t>(head.status);
    uint32_t status = TESSUM_OK;
    if (exchange_.Retry(head, &status)) {
      asio::error_code ignored;
      t_->sock.close(ignored);
      head_bytes_.clear();
      connected_ = false;
      return Connect();
    }
    if (status != TESSUM_OK) return End(lock, status, code);
    int64_t remaining = -1;
    t_->carry = Exchange::BodyStart(head_bytes_, head, &remaining);
    if (remaining >= 0) t_->remaining = remaining;
    t_->ready = true;
    End(lock, TESSUM_OK, code);
  }

  static uint32_t Status(const asio::error_code &ec, uint32_t otherwise) {
    return ec == asio::error::operation_aborted ? TESSUM_E_WITHDRAWN : otherwise;
  }

  // Ends the request with `status` (0 included) unless another path already did.
  void End(Lock &lock, uint32_t status, uint64_t value) {
    if (!Claim()) return;
    if (t_->main.get() == this) t_->main.reset();
    lock.unlock();
    Deliver(status, value);
  }

  std::shared_ptr<Transport> t_;
  Exchange exchange_;
  tcp::resolver resolver_;
  bool connected_ = false;  // the connection is known to be made
  std::string head_bytes_;
  char piece_[4096];
};

bool CopyText(char *field, size_t size, const char *text) {
  size_t length = text == nullptr ? 0 : std::strlen(text);
  if (length >= size) return false;
  std::memset(field, 0, size);
  if (length > 0) std::memcpy(field, text, length);
  return true;
}

}  // namespace

uint32_t StartHttp(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                   TessumCallback callback, void *context, const TessumHttpRequest *request,
                   TessumHandle *handle) {
  Exchange exchange;
  uint32_t rc = exchange.Init(*request, token->timeout_ms);
  if (rc != TESSUM_OK) return rc;
  HandleBox *box = NewHandle(agent, Kind::Http);
  if (box == nullptr) return TESSUM_E_NOMEM;
  std::shared_ptr<Transport> t = box->transport;
  t->ready = false;
  const uint32_t timeout_ms = exchange.plan().timeout_ms;
  auto op = std::make_shared<HttpOp>(t, token, callback, context, std::move(exchange));
  HandleSlot slot(handle, box);
  {
    std::lock_guard<std::mutex> lock(t->mu);
    rc = StartOn(*t, t->main, op, timeout_ms, [&] { op->Connect(); });
  }
  return slot.Settle(rc);
}

uint32_t SetConn(TessumHttpConn *conn, uint32_t use_proxy, const char *proxy_host,
                 uint32_t proxy_port, const char *host, uint32_t port) {
  if (conn == nullptr || host == nullptr) return TESSUM_E_INVALIDARG;
  TessumHttpConn filled{};
  const bool proxy = use_proxy != 0 && proxy_host != nullptr && proxy_host[0] != '\0';
  if (!CopyText(filled.host, sizeof filled.host, host)) return TESSUM_E_INVALIDARG;
  if (proxy && !CopyText(filled.proxy_host, sizeof filled.proxy_host, proxy_host)) {
    return TESSUM_E_INVALIDARG;
  }
  filled.use_proxy = proxy ? 1 : 0;
  filled.proxy_port = proxy ? proxy_port : 0;
  filled.port = port;
  *conn = filled;
  return TESSUM_OK;
}

}  // namespace tessum
