#include "ftp_runner.h"

#include <string.h>

#include <chrono>

#include "core/context.h"
#include "core/operation.h"

namespace ftptest {

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return text;
}

namespace {
WorkerQueue *g_queue = nullptr;
}

WorkerQueue::WorkerQueue(KavrelContext *context) : context_(context) {
  g_queue = this;
  Context_SetHandler(context_, Handler);
}

WorkerQueue::~WorkerQueue() {
  Context_SetHandler(context_, Completion_HandleNode);
  g_queue = nullptr;
}

void WorkerQueue::Handler(KavrelContext *, EventNode *node) {
  std::lock_guard<std::mutex> lock(g_queue->mu_);
  g_queue->events_.push_back(node->event);
  g_queue->cv_.notify_all();
}

uint32_t WorkerQueue::Next(int bound_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(bound_ms), [&] { return !events_.empty(); })) {
    return 0xDEAD;
  }
  uint32_t event = events_.front();
  events_.erase(events_.begin());
  return event;
}

Runner::Runner() {
  SCHEAGENT_Initialize(&agent_, 1);
  listing[0] = '\0';
}

Runner::~Runner() {
  if (control_) COMMON_TI_Release(&control_);
  if (agent_) SCHEAGENT_Release(&agent_);
}

void TESSUM_CALL Runner::Done(TessumToken *token) {
  Runner *self = static_cast<Runner *>(token->context);
  std::lock_guard<std::mutex> lock(self->mu_);
  self->done_ = true;
  self->status_ = token->status;
  self->value_ = token->value;
  ++self->completions_;
  self->cv_.notify_all();
}

// A bound that only catches a hang.
uint32_t Runner::Wait() {
  std::unique_lock<std::mutex> lock(mu_);
  if (!cv_.wait_for(lock, std::chrono::seconds(60), [&] { return done_; })) return 0xDEAD;
  done_ = false;
  return status_;
}

uint32_t Runner::Login(int port, const std::string &user, const std::string &password,
                       const std::string &account, uint32_t timeout_ms) {
  FtpSockServer server{};
  strcpy(server.host, "127.0.0.1");
  server.port = static_cast<uint32_t>(port);
  strncpy(server.user, user.c_str(), sizeof(server.user) - 1);
  strncpy(server.password, password.c_str(), sizeof(server.password) - 1);
  strncpy(server.account, account.c_str(), sizeof(server.account) - 1);
  token_.timeout_ms = timeout_ms;
  uint32_t rc = ConnectToServerByFtp(agent_, &token_, Done, this, &server, &control_, nullptr);
  return rc != 0 ? rc : Wait();
}

uint32_t Runner::Command(uint32_t kind, const std::string &argument, std::string *result) {
  FtpSockRequest request{};
  request.control = &control_;
  request.kind = kind;
  strncpy(request.argument, argument.c_str(), sizeof(request.argument) - 1);
  char text[512] = "";
  uint32_t rc = FtpSock_Command(agent_, &token_, Done, this, &request, text, sizeof(text), nullptr);
  if (rc == 0) rc = Wait();
  if (result) *result = text;
  return rc;
}

uint32_t Runner::Transfer(FtpSockTransfer *transfer) {
  transfer->control = &control_;
  if (transfer->kind == FTPSOCK_LIST && !transfer->listing) {
    transfer->listing = listing;
    transfer->listing_size = sizeof(listing);
  }
  uint32_t rc = FtpSock_Transfer(agent_, &token_, Done, this, transfer, nullptr);
  return rc != 0 ? rc : Wait();
}

FtpSockTransfer Runner::Describe(uint32_t kind, bool passive, const std::string &path,
                                 const std::string &remote) {
  FtpSockTransfer transfer{};
  transfer.passive = passive ? 1 : 0;
  transfer.kind = kind;
  strncpy(transfer.path, path.c_str(), sizeof(transfer.path) - 1);
  strncpy(transfer.remote, remote.c_str(), sizeof(transfer.remote) - 1);
  return transfer;
}

}  // namespace ftptest
