// A token with a record of its completions, for tests that wait on Tessum.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "tessum.h"

namespace tstest {

class Recorder {
 public:
  explicit Recorder(uint32_t timeout_ms = 10000) { token.timeout_ms = timeout_ms; }

  // The callback for every start: the context Tessum puts in the token is the Recorder.
  static void TESSUM_CALL Callback(TessumToken *t) {
    auto *self = static_cast<Recorder *>(t->context);
    std::lock_guard<std::mutex> lock(self->mu_);
    ++self->count_;
    self->status_ = t->status;
    self->value_ = t->value;
    self->thread_ = std::this_thread::get_id();
    self->cv_.notify_all();
  }

  // Waits (bounded generously) for the n-th completion; false on a hang.
  bool Wait(int n = 1, int bound_ms = 10000) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(bound_ms), [&] { return count_ >= n; });
  }
  int count() { std::lock_guard<std::mutex> l(mu_); return count_; }
  uint32_t status() { std::lock_guard<std::mutex> l(mu_); return status_; }
  uint64_t value() { std::lock_guard<std::mutex> l(mu_); return value_; }
  std::thread::id thread() { std::lock_guard<std::mutex> l(mu_); return thread_; }

  TessumToken token{};

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int count_ = 0;
  uint32_t status_ = 0;
  uint64_t value_ = 0;
  std::thread::id thread_;
};

}  // namespace tstest
