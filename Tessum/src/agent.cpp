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

// The time-outs of every operation in flight, in one list under one timer armed for the
// earliest. A timer per operation would cost system calls to arm and cancel it, and a pool
// thread woken for each cancellation, on every request; here an operation's start and end
// only add and remove an entry, and the timer is re-armed only when a new deadline comes
// before every other.
class Deadlines {
 public:
  using Clock = std::chrono::steady_clock;

  static Deadlines &Get() {
    static Deadlines *list = new Deadlines;  // never destroyed, like the pool's io_context
    return *list;
  }

  void Add(const std::shared_ptr<Op> &op, uint32_t timeout_ms) {
    Clock::time_point at = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::lock_guard<std::mutex> lock(mu_);
    if (op->has_deadline_) entries_.erase(op->deadline_);
    op->deadline_ = entries_.emplace(at, op);
    op->has_deadline_ = true;
    if (!armed_ || at < armed_at_) Arm(at);
  }

  void Remove(Op *op) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!op->has_deadline_) return;
    entries_.erase(op->deadline_);
    op->has_deadline_ = false;
  }

 private:
  Deadlines() : timer_(pool::Io()) {}

  // Under mu_. Re-arming cancels the wait before, whose handler then does nothing.
  void Arm(Clock::time_point at) {
    armed_ = true;
    armed_at_ = at;
    timer_.expires_at(at);
    timer_.async_wait([this, at](const asio::error_code &ec) {
      if (!ec) Expire(at);
    });
  }

  void Expire(Clock::time_point armed_for) {
    std::vector<std::shared_ptr<Op>> expired;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!armed_ || armed_at_ != armed_for) return;  // re-armed meanwhile
      armed_ = false;
      Clock::time_point now = Clock::now();
      auto it = entries_.begin();
      while (it != entries_.end() && it->first <= now) {
        std::shared_ptr<Op> op = it->second.lock();
        if (!op) {  // being destroyed: its destructor removes the entry
          ++it;
          continue;
        }
        op->has_deadline_ = false;
        expired.push_back(std::move(op));
        it = entries_.erase(it);
      }
      if (it != entries_.end()) Arm(it->first);
    }
    for (auto &op : expired) {
      if (!op->Claim()) continue;
      op->CancelIo();
      op->Deliver(TESSUM_E_TIMEOUT, 0);
    }
  }

  std::mutex mu_;
  std::multimap<Clock::time_point, std::weak_ptr<Op>> entries_;
  asio::steady_timer timer_;
  bool armed_ = false;
  Clock::time_point armed_at_;
};

Op::Op(std::shared_ptr<AgentCore> agent, TessumToken *token, TessumCallback callback,
       void *context)
    : agent_(std::move(agent)), token_(token), callback_(callback), context_(context) {}

Op::~Op() { StopTimer(); }

void Op::StartTimer(uint32_t timeout_ms) {
  if (timeout_ms == 0) return;
  Deadlines::Get().Add(shared_from_this(), timeout_ms);
}

void Op::StopTimer() { Deadlines::Get().Remove(this); }

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
