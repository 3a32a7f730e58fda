// The platform-neutral half of the waker: when its platform part is made, and the wake-up
// carried over to it.
#include "net.h"

namespace tessum {
namespace net {

// Nothing can wake the waker any more: the platform's part is handed back cleared.
Waker::~Waker() {
  if (state_ == nullptr) return;
  if (woken_) Clear(state_);
  Destroy(state_);
}

Waker::State *Waker::Made() {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_ == nullptr) {
    state_ = Make();
    if (state_ != nullptr && woken_) Signal(state_);
  }
  return state_;
}

void Waker::Wake() {
  std::lock_guard<std::mutex> lock(mu_);
  woken_ = true;
  if (state_ != nullptr) Signal(state_);
}

void Waker::Drain() {
  std::lock_guard<std::mutex> lock(mu_);
  woken_ = false;
  if (state_ != nullptr) Clear(state_);
}

}  // namespace net
}  // namespace tessum
