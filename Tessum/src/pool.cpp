// The process-wide pool: a few threads running one io_context for every agent.
#include <thread>
#include <vector>

#include "core.h"

namespace tessum {
namespace pool {
namespace {

thread_local bool t_on_pool = false;

struct State {
  // Never destroyed: sockets and timers of handles that outlive every agent refer to it,
  // and destroying it at exit would race with them.
  asio::io_context *io = new asio::io_context(TESSUM_POOL_THREADS);
  std::mutex mu;
  std::condition_variable stopped;
  bool stopping = false;  // the last release is joining the threads
  size_t users = 0;
  std::vector<std::thread> threads;
  std::unique_ptr<asio::executor_work_guard<asio::io_context::executor_type>> guard;
};

State &Get() {
  static State *state = new State;
  return *state;
}

}  // namespace

asio::io_context &Io() { return *Get().io; }

bool OnPoolThread() { return t_on_pool; }

void Acquire() {
  State &s = Get();
  std::unique_lock<std::mutex> lock(s.mu);
  s.stopped.wait(lock, [&s] { return !s.stopping; });
  if (s.users++ > 0 || !s.threads.empty()) return;
  s.io->restart();
  s.guard = std::make_unique<asio::executor_work_guard<asio::io_context::executor_type>>(
      s.io->get_executor());
  for (int i = 0; i < TESSUM_POOL_THREADS; ++i) {
    s.threads.emplace_back([io = s.io] {
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
    s.guard.reset();
    s.io->stop();
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
