// The machinery under every Tessum operation: the process-wide thread pool, agents (the
// registry of pending operations by token) and the operation record that completes once.
//
// Lock order: a transport's lock, then an agent's lock or an operation's timer lock. No
// lock is held while a caller's callback runs.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "tessum.h"

namespace tessum {

// TESSUM_POOL_THREADS threads, each running its own io_context, shared by every agent of
// the process. The first agent starts the threads and the last one stops them; the
// io_contexts live until the process ends, so that handles released after the last agent
// stay safe.
namespace pool {
// One of the pool's io_contexts, each in turn. A new handle takes one and keeps it.
asio::io_context &Io();
void Acquire();
void Release();
bool OnPoolThread();
}  // namespace pool

class Op;

class AgentCore {
 public:
  // Adds an operation under its token. TESSUM_E_BUSY when the token already has one,
  // TESSUM_E_INVALIDARG once the agent was released.
  uint32_t Register(const std::shared_ptr<Op> &op);
  // Removes the operation's entry if the map still holds it. Called by the completing path.
  void Unregister(const Op *op);
  // A registered operation is over: its callback returned, or it never started.
  void Finished();
  // Withdraws the operation pending with the token (see SCHEAGENT_RemoveToken).
  uint32_t Withdraw(TessumToken *token);
  // Withdraws everything and refuses new operations; waits for the callbacks when allowed.
  void Shutdown(bool wait);

 private:
  std::mutex mu_;
  std::condition_variable idle_;
  std::unordered_map<TessumToken *, std::shared_ptr<Op>> pending_;
  size_t in_flight_ = 0;  // registered and not yet finished
  bool released_ = false;
};

// One asynchronous operation. Whoever wins Claim() (the I/O completion, the time-out,
// a withdrawal or a release of the handle) is the only one to deliver it.
class Op : public std::enable_shared_from_this<Op> {
 public:
  Op(std::shared_ptr<AgentCore> agent, TessumToken *token, TessumCallback callback,
     void *context);
  virtual ~Op();

  bool Claim() { return !claimed_.exchange(true, std::memory_order_acq_rel); }
  bool Claimed() const { return claimed_.load(std::memory_order_acquire); }

  // Arms the time-out (0: none). On expiry the operation is claimed, its I/O cancelled and
  // TESSUM_E_TIMEOUT delivered.
  void StartTimer(uint32_t timeout_ms);
  void StopTimer();

  // Fills the token and calls back. Only after a successful Claim() and on a pool thread.
  // `fill` runs just before the callback (copying read bytes into the caller's buffer).
  void Deliver(uint32_t status, uint64_t value, const std::function<void()> &fill = nullptr);

  // Withdrawn elsewhere: deliver TESSUM_E_WITHDRAWN on a pool thread, later.
  void PostWithdrawn();

  // Cancels the operation's I/O after someone else claimed it. Must not call back.
  virtual void CancelIo() {}

  TessumToken *token() const { return token_; }
  const std::shared_ptr<AgentCore> &agent() const { return agent_; }

 private:
  std::shared_ptr<AgentCore> agent_;
  TessumToken *token_;
  TessumCallback callback_;
  void *context_;
  std::atomic<bool> claimed_{false};
  friend class Deadlines;
  // The operation's entry in the process-wide list of time-outs; guarded by that list's lock.
  std::multimap<std::chrono::steady_clock::time_point, std::weak_ptr<Op>>::iterator deadline_;
  bool has_deadline_ = false;
};

}  // namespace tessum
