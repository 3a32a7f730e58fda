// Transport handles: connected sockets, listening sockets and HTTP requests, and the
// socket operations on them.
#pragma once

#include <string>

#include "core.h"

namespace tessum {

enum class Kind { Stream, Listener, Http };

// The state behind one handle. Every touch of the sockets and of the fields below happens
// under `mu`; completions run on pool threads and take it too.
class Transport : public std::enable_shared_from_this<Transport> {
 public:
  // On one of the pool's io_contexts, which serves every operation of the handle.
  Transport(std::shared_ptr<AgentCore> agent, Kind kind);
  Transport(std::shared_ptr<AgentCore> agent, Kind kind, asio::io_context &io);

  // Shows the current socket in the caller's handle (second word). Under `mu`.
  void PublishSocket();

  std::mutex mu;
  const std::shared_ptr<AgentCore> agent;
  const Kind kind;
  asio::ip::tcp::socket sock;
  asio::ip::tcp::acceptor acceptor;
  TessumTransport *head = nullptr;  // the caller's handle; NULL once released
  bool closed = false;
  // Bytes received but not yet handed to a read: the body bytes that came with an HTTP
  // reply's headers, or bytes of a read that lost to a time-out or a withdrawal.
  std::string carry;
  bool eof = false;        // the peer closed its side
  int64_t remaining = -1;  // body bytes still due on an HTTP handle; -1 unbounded
  bool ready = true;       // an HTTP handle becomes readable when its request succeeds
  std::shared_ptr<Op> reading, writing, accepting, main;  // main: the connect, accept or HTTP
};

// What the caller's handle points to: the public head first, then our reference.
struct HandleBox {
  TessumTransport head;
  std::shared_ptr<Transport> transport;
};

// A new handle for `agent`; the caller of Tessum owns it until Release.
HandleBox *NewHandle(const std::shared_ptr<AgentCore> &agent, Kind kind);
std::shared_ptr<Transport> FromHandle(TessumHandle handle);

// The caller's handle destination during a start. The handle is stored before the
// operation begins, because its completion may run (and use the handle) before the start
// returns; a start that fails puts the old value back and releases the new handle.
class HandleSlot {
 public:
  HandleSlot(TessumHandle *destination, HandleBox *box);
  uint32_t Settle(uint32_t rc);

 private:
  TessumHandle *destination_;
  TessumHandle previous_;
  HandleBox *box_;
};
uint32_t Release(TessumHandle *handle);

// Starts `op` under the transport's lock (held by the caller) once `slot` is free and the
// token is registered: puts it in `slot`, runs `begin` and arms the time-out.
uint32_t StartOn(Transport &t, std::shared_ptr<Op> &slot, const std::shared_ptr<Op> &op,
                 uint32_t timeout_ms, const std::function<void()> &begin);

uint32_t StartConnect(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                      TessumCallback callback, void *context, uint32_t address, uint32_t port,
                      TessumHandle *handle);
uint32_t StartAccept(const std::shared_ptr<AgentCore> &agent, TessumToken *token,
                     TessumCallback callback, void *context, TessumHandle listening,
                     TessumHandle *handle);
uint32_t Wrap(const std::shared_ptr<AgentCore> &agent, uintptr_t socket, TessumHandle *handle);
uint32_t StartRead(TessumHandle handle, TessumToken *token, TessumCallback callback,
                   void *context, uint32_t maximum, void *buffer);
uint32_t StartWrite(TessumHandle handle, TessumToken *token, TessumCallback callback,
                    void *context, uint32_t length, const void *buffer);

}  // namespace tessum
