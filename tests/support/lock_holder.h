// A process lock (the OS layer's OsProcessLock) held by a thread of its own for the life of
// the object, for tests that need "another writer holds the lock": a Windows mutex lets the
// thread that owns it in again, so the holder must be another thread. Header-only: for test
// programs that link the library's internals.
#pragma once

#include <future>
#include <string>
#include <thread>

#include "platform/os.h"

namespace kvtest {

class LockHolder {
 public:
  LockHolder(const char *name, const std::string &file) {
    std::promise<bool> taken;
    std::future<bool> result = taken.get_future();
    thread_ = std::thread([&, name, file] {
      OsProcessLock lock = nullptr;
      taken.set_value(OsProcessLockAcquire(name, file, 1000, &lock) == 0);
      release_.get_future().wait();
      OsProcessLockRelease(&lock);
    });
    held_ = result.get();
  }
  ~LockHolder() {
    release_.set_value();
    thread_.join();
  }
  bool held() const { return held_; }

 private:
  std::promise<void> release_;
  std::thread thread_;
  bool held_ = false;
};

}  // namespace kvtest
