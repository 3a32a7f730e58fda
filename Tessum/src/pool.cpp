// The process-wide pool: a few threads, each running an io_context of its own, shared by
// every agent. Each handle is served by one of them, taken in turn.
//
// One io_context per thread rather than one shared by all: with several threads on one
// io_context, every completion wakes a second thread to wait for the network while the
// first runs the handler, and those wake-ups cost more than the request itself on a nearby
// device. A thread of its own lets an io_context handle its events and handlers in one loop.
#include <thread>
#include <vector>

#include "core.h"

namespace tessum {
namespace pool {
namespace {

thread_local bool t_on_pool = false;

using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

struct State {
  State() {
    // Never destroyed: sockets and timers of handles that outlive every agent refer to them,
    // and destroying them at exit would race with those. One thread runs each (hint 1).
    for (asio::io_context *&io : ios) io = new asio::io_context(1);
  }
  asio::io_context *ios[TESSUM_POOL_THREADS];
  std::atomic<unsigned> next{0};
  std::mutex mu;
  std::condition_variable stopped;
  bool stopping = false;  // the last release is joining the threads
  size_t users = 0;
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<WorkGuard>> guards;
};

State &Get() {
  static State *state = new State;
  return *state;
}

}  // namespace

asio::io_context &Io() {
  State &s = Get();
  return *s.ios[s.next.fetch_add(1, std::memory_order_relaxed) % TESSUM_POOL_THREADS];
}

bool OnPoolThread() { return t_on_pool; }

void Acquire() {
  State &s = Get();
  std::unique_lock<std::mutex> lock(s.mu);
  s.stopped.wait(lock, [&s] { return !s.stopping; });
  if (s.users++ > 0 || !s.threads.empty()) return;
  for (asio::io_context *io : s.ios) {
    io->restart();
    s.guards.push_back(std::make_unique<WorkGuard>(io->get_executor()));
    s.threads.emplace_back([io] {
      t_on_pool = true;
      io->run();
    });
  }
}

void Release() {
  State &s = Get();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (--s.users > 0) return;
    // A pool thread cannot join itself: the threads keep running until the next last
    // release from outside, which finds them still there.
    if (t_on_pool) return;
    s.guards.clear();
    for (asio::io_context *io : s.ios) io->stop();
    threads.swap(s.threads);
    s.stopping = true;
  }
  for (std::thread &t : threads) t.join();
  std::lock_guard<std::mutex> lock(s.mu);
  s.stopping = false;
  s.stopped.notify_all();
}

}  // namespace pool
}  // namespace tessum
