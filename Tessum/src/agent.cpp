// Agents and the operation record: registration by token, exactly-once delivery,
// withdrawal and time-outs.
#include <vector>

#include "core.h"

namespace tessum {

uint32_t AgentCore::Register(const std::shared_ptr<Op> &op) {
  std::lock_guard<std::mutex> lock(mu_);
  if (released_) return TESSUM_E_INVALIDARG;
  if (!pending_.emplace(op->token(), op).second) return TESSUM_E_BUSY;
  ++in_flight_;
  return TESSUM_OK;
}

void AgentCore::Unregister(const Op *op) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = pending_.find(op->token());
  if (it != pending_.end() && it->second.get() == op) pending_.erase(it);
}

void AgentCore::Finished() {
  std::lock_guard<std::mutex> lock(mu_);
  if (--in_flight_ == 0) idle_.notify_all();
}

uint32_t AgentCore::Withdraw(TessumToken *token) {
  std::shared_ptr<Op> op;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = pending_.find(token);
    // A claimed entry is completing right now; its own path calls back. The entry stays
    // until the withdrawn completion is delivered, so the token cannot be reused before.
    if (it == pending_.end() || !it->second->Claim()) return TESSUM_E_NOTPENDING;
    op = it->second;
  }
  op->PostWithdrawn();
  return TESSUM_OK;
}

void AgentCore::Shutdown(bool wait) {
  std::vector<std::shared_ptr<Op>> taken;
  std::unique_lock<std::mutex> lock(mu_);
  released_ = true;
  for (auto &entry : pending_) {
    if (entry.second->Claim()) taken.push_back(entry.second);
  }
  lock.unlock();
  for (auto &op : taken) op->PostWithdrawn();
  if (!wait) return;
  lock.lock();
  idle_.wait(lock, [this] { return in_flight_ == 0; });
}

Op::Op(std::shared_ptr<AgentCore> agent, TessumToken *token, TessumCallback callback,
       void *context)
    : agent_(std::move(agent)),
      token_(token),
      callback_(callback),
      context_(context),
      timer_(pool::Io()) {}

void Op::StartTimer(uint32_t timeout_ms) {
  if (timeout_ms == 0) return;
  std::lock_guard<std::mutex> lock(timer_mu_);
  timer_.expires_after(std::chrono::milliseconds(timeout_ms));
  timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
    if (ec || !self->Claim()) return;
    self->CancelIo();
    self->Deliver(TESSUM_E_TIMEOUT, 0);
  });
}

void Op::StopTimer() {
  std::lock_guard<std::mutex> lock(timer_mu_);
  timer_.cancel();
}

void Op::Deliver(uint32_t status, uint64_t value, const std::function<void()> &fill) {
  StopTimer();
  agent_->Unregister(this);
  if (fill) fill();
  token_->context = context_;
  token_->value = value;
  token_->status = status;
  std::shared_ptr<AgentCore> agent = agent_;
  callback_(token_);
  agent->Finished();
}

void Op::PostWithdrawn() {
  asio::post(pool::Io(), [self = shared_from_this()] {
    self->CancelIo();
    self->Deliver(TESSUM_E_WITHDRAWN, 0);
  });
}

}  // namespace tessum
