// Socket handles: connect, accept, wrap, read, write and release.
//
// Reads go into the operation's own buffer and are copied into the caller's only by the
// path that delivers the completion, so a withdrawn or timed-out read never writes the
// caller's memory later. Bytes that such a read received anyway stay in the handle's carry
// for the next read.
#include "transport.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "http_exchange.h"
#include "net.h"

namespace tessum {
namespace {

constexpr size_t kMaxPiece = 64 * 1024;

using tcp = asio::ip::tcp;

class ReadOp : public Op {
 public:
  ReadOp(std::shared_ptr<Transport> t, TessumToken *token, TessumCallback callback,
         void *context, uint32_t maximum, void *buffer)
      : Op(t->agent, token, callback, context),
        t_(std::move(t)),
        inner_(std::min<size_t>(maximum, kMaxPiece)),
        buffer_(buffer) {}

  // Under t_->mu.
  void Begin() {
    if (!t_->carry.empty() || t_->eof || t_->remaining == 0) {
      asio::post(t_->sock.get_executor(), [self = Self()] { self->FromCarry(); });
      return;
    }
    size_t limit = inner_.size();
    if (t_->remaining > 0) limit = std::min<size_t>(limit, static_cast<size_t>(t_->remaining));
    t_->sock.async_read_some(asio::buffer(inner_.data(), limit),
                             [self = Self()](const asio::error_code &ec, size_t n) {
                               self->OnRead(ec, n);
                             });
  }

  void CancelIo() override {
    std::lock_guard<std::mutex> lock(t_->mu);
    if (t_->reading.get() != this) return;
    t_->reading.reset();
    asio::error_code ignored;
    t_->sock.cancel(ignored);
  }

 private:
  std::shared_ptr<ReadOp> Self() { return std::static_pointer_cast<ReadOp>(shared_from_this()); }

  void Keep(size_t n) {
    if (n == 0 || t_->closed) return;
    t_->carry.insert(0, inner_.data(), n);
  }

  void FromCarry() {
    std::unique_lock<std::mutex> lock(t_->mu);
    if (!Claim()) return;
    if (t_->reading.get() == this) t_->reading.reset();
    size_t n = std::min(inner_.size(), t_->carry.size());
    uint32_t status = TESSUM_OK;
    if (n > 0) {
      std::memcpy(inner_.data(), t_->carry.data(), n);
      t_->carry.erase(0, n);
    } else if (t_->remaining == 0) {
      status = TESSUM_S_CLOSED;
    } else {
      status = BodyEndStatus(t_->remaining);
    }
    lock.unlock();
    Finish(status, n);
  }

  void OnRead(const asio::error_code &ec, size_t n) {
    std::unique_lock<std::mutex> lock(t_->mu);
    if (t_->remaining > 0) t_->remaining -= static_cast<int64_t>(n);
    if (Claimed()) return Keep(n);
    // Cancelled on behalf of the write on the same handle: carry on reading.
    if (ec == asio::error::operation_aborted && !t_->closed) return Begin();
    if (!Claim()) return Keep(n);
    if (t_->reading.get() == this) t_->reading.reset();
    uint32_t status = TESSUM_OK;
    if (n == 0) {
      if (ec == asio::error::eof) {
        t_->eof = true;
        status = BodyEndStatus(t_->remaining);
      } else {
        status = ec == asio::error::operation_aborted ? TESSUM_E_WITHDRAWN : TESSUM_E_SOCKET;
      }
    }
    lock.unlock();
    Finish(status, n);
  }

  void Finish(uint32_t status, size_t n) {
    if (status != TESSUM_OK) n = 0;
    Deliver(status, n, [this, n] {
      if (n > 0) std::memcpy(buffer_, inner_.data(), n);
    });
  }

  std::shared_ptr<Transport> t_;
  std::vector<char> inner_;
  void *buffer_;
};

class WriteOp : public Op {
 public:
  WriteOp(std::shared_ptr<Transport> t, TessumToken *token, TessumCallback callback,
          void *context, const void *data, uint32_t length)
      : Op(t->agent, token, callback, context),
        t_(std::move(t)),
        data_(static_cast<const char *>(data), length) {}

  // Under t_->mu.
  void Begin() {
    asio::async_write(t_->sock, asio::buffer(data_.data() + done_, data_.size() - done_),
                      [self = std::static_pointer_cast<WriteOp>(shared_from_this())](
                          const asio::error_code &ec, size_t n) { self->OnWrite(ec, n); });
  }

  void CancelIo() override {
    std::lock_guard<std::mutex> lock(t_->mu);
    if (t_->writing.get() != this) return;
    t_->writing.reset();
    asio::error_code ignored;
    t_->sock.cancel(ignored);
  }

 private:
  void OnWrite(const asio::error_code &ec, size_t n) {
    std::unique_lock<std::mutex> lock(t_->mu);
    done_ += n;
    if (Claimed()) return;
    // Cancelled on behalf of the read on the same handle: write the rest.
    if (ec == asio::error::operation_aborted && !t_->closed && done_ < data_.size()) {
      return Begin();
    }
    if (!Claim()) return;
    if (t_->writing.get() == this) t_->writing.reset();
    uint32_t status = TESSUM_OK;
    if (ec) status = ec == asio::error::operation_aborted ? TESSUM_E_WITHDRAWN : TESSUM_E_SOCKET;
    lock.unlock();
    Deliver(status, status == TESSUM_OK ? data_.size() : 0);
  }

  std::shared_ptr<Transport> t_;
  std::string data_;
  size_t done_ = 0;
};

class ConnectOp : public Op {
 public:
  ConnectOp(std::shared_ptr<Transport> t, TessumToken *token, TessumCallback callback,
            void *context)
      : Op(t->agent, token, callback, context), t_(std::move(t)) {}

  // Under t_->mu.
  void Begin(const tcp::endpoint &to) {
    t_->sock.async_connect(to, [self = std::static_pointer_cast<ConnectOp>(shared_from_this())](
                                   const asio::error_code &ec) { self->OnConnect(ec); });
  }

  void CancelIo() override {
    std::lock_guard<std::mutex> lock(t_->mu);
    if (t_->main.get() != this) return;
    t_->main.reset();
    asio::error_code ignored;
    t_->sock.close(ignored);
  }

 private:
  void OnConnect(const asio::error_code &ec) {
    std::unique_lock<std::mutex> lock(t_->mu);
    if (!Claim()) return;
    if (t_->main.get() == this) t_->main.reset();
    uint32_t status = TESSUM_OK;
    if (ec) status = ec == asio::error::operation_aborted ? TESSUM_E_WITHDRAWN : TESSUM_E_CONNECT;
    t_->ready = status == TESSUM_OK;
    lock.unlock();
    Deliver(status, 0);
  }

  std::shared_ptr<Transport> t_;
};

class AcceptOp : public Op {
 public:
  AcceptOp(std::shared_ptr<Transport> listener, std::shared_ptr<Transport> target,
           TessumToken *token, TessumCallback callback, void *context)
      : Op(listener->agent, token, callback, context),
        listener_(std::move(listener)),
        target_(std::move(target)),
        peer_(target_->sock.get_executor()) {}

  // Under listener_->mu.
  void Begin() {
    listener_->acceptor.async_accept(
        peer_, [self = std::static_pointer_cast<AcceptOp>(shared_from_this())](
                   const asio::error_code &ec) { self->OnAccept(ec); });
  }

  void CancelIo() override {
    std::lock_guard<std::mutex> lock(listener_->mu);
    if (listener_->accepting.get() != this) return;
    listener_->accepting.reset();
    asio::error_code ignored;
    listener_->acceptor.cancel(ignored);
  }

 private:
  void OnAccept(const asio::error_code &ec) {
    {
      std::lock_guard<std::mutex> lock(listener_->mu);
      if (!Claim()) return;
      if (listener_->accepting.get() == this) listener_->accepting.reset();
    }
    uint32_t status = TESSUM_OK;
    if (ec) {
      status = ec == asio::error::operation_aborted ? TESSUM_E_WITHDRAWN : TESSUM_E_SOCKET;
    } else {
      std::lock_guard<std::mutex> lock(target_->mu);
      net::KeepFromChildren(peer_.native_handle());
      target_->sock = std::move(peer_);
      if (target_->main.get() == this) target_->main.reset();
      target_->ready = true;
      target_->PublishSocket();
    }
    Deliver(status, 0);
  }

  std::shared_ptr<Transport> listener_;
  std::shared_ptr<Transport> target_;
  tcp::socket peer_;
};

uint32_t StartOn(Transport &t, std::shared_ptr<Op> &slot, const std::shared_ptr<Op> &op,
                 const std::function<void()> &begin) {
  return StartOn(t, slot, op, op->token()->timeout_ms, begin);
}

}  // namespace

uint32_t StartOn(Transport &t, std::shared_ptr<Op> &slot, const std::shared_ptr<Op> &op,
                 uint32_t timeout_ms, const std::function<void()> &begin) {
  if (t.closed) return TESSUM_E_INVALIDARG;
  if (slot) return TESSUM_E_BUSY;
  uint32_t rc = t.agent->Register(op);
  if (rc != TESSUM_OK) return rc;
  slot = op;
  begin();
  op->StartTimer(timeout_ms);
  return TESSUM_OK;
}

Transport::Transport(std::shared_ptr<AgentCore> owner, Kind k)
    : Transport(std::move(owner), k, pool::Io()) {}

Transport::Transport(std::shared_ptr<AgentCore> owner, Kind k, asio::io_context &io)
    : agent(std::move(owner)), kind(k), sock(io), acceptor(io) {}

void Transport::PublishSocket() {
  if (head == nullptr) return;
  if (sock.is_open()) {
    head->socket = static_cast<uintptr_t>(sock.native_handle());
  } else if (acceptor.is_open()) {
    head->socket = static_cast<uintptr_t>(acceptor.native_handle());
  } else {
    head->socket = ~static_cast<uintptr_t>(0);
  }
}

HandleBox *NewHandle(const std::shared_ptr<AgentCore> &agent, Kind kind) {
  auto *box = new (std::nothrow) HandleBox;
  if (box == nullptr) return nullptr;
  box->transport = std::make_shared<Transport>(agent, kind);
  box->head.impl = box;
  box->head.socket = ~static_cast<uintptr_t>(0);
  box->transport->head = &box->head;
  return box;
}

std::shared_ptr<Transport> FromHandle(TessumHandle handle) {
  if (handle == nullptr || handle->impl == nullptr) return nullptr;
  return static_cast<HandleBox *>(handle->impl)->transport;
}

HandleSlot::HandleSlot(TessumHandle *destination, HandleBox *box)
    : destination_(destination), previous_(*destination), box_(box) {
  *destination_ = &box_->head;
}

uint32_t HandleSlot::Settle(uint32_t rc) {
  if (rc == TESSUM_OK) return rc;
  *destination_ = previous_;
  TessumHandle h = &box_->head;
  Release(&h);
  return rc;
}

uint32_t Release(TessumHandle *handle) {
  if (handle == nullptr) return TESSUM_E_INVALIDARG;
  if (*handle == nullptr) return TESSUM_OK;
  auto *box = static_cast<HandleBox *>((*handle)->impl);
  *handle = nullptr;
  std::shared_ptr<Transport> t = std::move(box->transport);
  std::shared_ptr<Op> ops[4];
  {
    std::lock_guard<std::mutex> lock(t->mu);
    t->closed = true;
    t->head = nullptr;
    ops[0] = std::move(t->reading);
    ops[1] = std::move(t->writing);
    ops[2] = std::move(t->accepting);
    ops[3] = std::move(t->main);
    // Claimed before the socket closes, so that the completion the close causes finds them
    // taken: platforms differ in the error they give a closed socket's pending operation
    // (Wine's, for one, is not "aborted").
    for (auto &op : ops) {
      if (op && !op->Claim()) op.reset();
    }
    asio::error_code ignored;
    t->sock.close(ignored);
    t->acceptor.close(ignored);
  }
  delete box;
  for (auto &op : ops) {
    if (op) op->PostWithdrawn();
  }
  return TESSUM_OK;
}

uint32_t StartConnect(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                      TessumCallback callback, void *context, uint32_t address, uint32_t port,
                      TessumHandle *handle) {
  if (port == 0 || port > 65535) return TESSUM_E_INVALIDARG;
  HandleBox *box = NewHandle(agent, Kind::Stream);
  if (box == nullptr) return TESSUM_E_NOMEM;
  std::shared_ptr<Transport> t = box->transport;
  t->ready = false;
  auto op = std::make_shared<ConnectOp>(t, token, callback, context);
  tcp::endpoint to(asio::ip::address_v4(address), static_cast<unsigned short>(port));
  HandleSlot slot(handle, box);
  uint32_t rc;
  {
    std::lock_guard<std::mutex> lock(t->mu);
    asio::error_code ec;
    t->sock.open(tcp::v4(), ec);
    if (ec) {
      rc = TESSUM_E_CONNECT;
    } else {
      net::KeepFromChildren(t->sock.native_handle());
      t->PublishSocket();
      rc = StartOn(*t, t->main, op, [&] { op->Begin(to); });
    }
  }
  return slot.Settle(rc);
}

uint32_t StartAccept(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                     TessumCallback callback, void *context, TessumHandle listening,
                     TessumHandle *handle) {
  std::shared_ptr<Transport> listener = FromHandle(listening);
  if (!listener || listener->kind != Kind::Listener) return TESSUM_E_INVALIDARG;
  HandleBox *box = NewHandle(agent, Kind::Stream);
  if (box == nullptr) return TESSUM_E_NOMEM;
  auto op = std::make_shared<AcceptOp>(listener, box->transport, token, callback, context);
  box->transport->main = op;
  box->transport->ready = false;
  HandleSlot slot(handle, box);
  uint32_t rc;
  {
    std::lock_guard<std::mutex> lock(listener->mu);
    rc = StartOn(*listener, listener->accepting, op, [&] { op->Begin(); });
  }
  if (rc != TESSUM_OK) box->transport->main.reset();
  return slot.Settle(rc);
}

uint32_t Wrap(const std::shared_ptr<AgentCore> &agent, uintptr_t socket, TessumHandle *handle) {
  namespace ops = asio::detail::socket_ops;
  const auto s = static_cast<asio::detail::socket_type>(socket);
  asio::error_code ec;
  int listening = 0;
  size_t len = sizeof listening;
  ops::getsockopt(s, 0, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len, ec);
  if (ec) return TESSUM_E_WRAP;
  asio::detail::sockaddr_storage_type local{};
  size_t local_len = sizeof local;
  ops::getsockname(s, reinterpret_cast<asio::detail::socket_addr_type *>(&local), &local_len,
                   ec);
  if (ec) return TESSUM_E_WRAP;
  const tcp protocol = local.ss_family == ASIO_OS_DEF(AF_INET6) ? tcp::v6() : tcp::v4();
  HandleBox *box = NewHandle(agent, listening ? Kind::Listener : Kind::Stream);
  if (box == nullptr) return TESSUM_E_NOMEM;
  Transport &t = *box->transport;
  {
    std::lock_guard<std::mutex> lock(t.mu);
    if (listening) {
      t.acceptor.assign(protocol, s, ec);
    } else {
      t.sock.assign(protocol, s, ec);
    }
    if (!ec) t.PublishSocket();
  }
  if (ec) {
    delete box;  // nothing was taken: the socket stays the caller's
    return TESSUM_E_WRAP;
  }
  *handle = &box->head;
  return TESSUM_OK;
}

uint32_t StartRead(TessumHandle handle, TessumToken *token, TessumCallback callback,
                   void *context, uint32_t maximum, void *buffer) {
  std::shared_ptr<Transport> t = FromHandle(handle);
  if (!t || t->kind == Kind::Listener) return TESSUM_E_INVALIDARG;
  auto op = std::make_shared<ReadOp>(t, token, callback, context, maximum, buffer);
  std::lock_guard<std::mutex> lock(t->mu);
  if (!t->ready) return TESSUM_E_BUSY;
  return StartOn(*t, t->reading, op, [&] { op->Begin(); });
}

uint32_t StartWrite(TessumHandle handle, TessumToken *token, TessumCallback callback,
                    void *context, uint32_t length, const void *buffer) {
  std::shared_ptr<Transport> t = FromHandle(handle);
  if (!t || t->kind != Kind::Stream) return TESSUM_E_INVALIDARG;
  auto op = std::make_shared<WriteOp>(t, token, callback, context, buffer, length);
  std::lock_guard<std::mutex> lock(t->mu);
  if (!t->ready) return TESSUM_E_BUSY;
  return StartOn(*t, t->writing, op, [&] { op->Begin(); });
}

}  // namespace tessum
