#include "platform/semaphore.h"

#include <algorithm>

namespace kv4r::platform {

Semaphore::Semaphore(int initial_count, int maximum_count)
    : count_(0), maximum_(std::max(1, maximum_count)) {
  count_ = std::clamp(initial_count, 0, maximum_);
}

void Semaphore::acquire() {
  std::unique_lock lock(mutex_);
  available_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

bool Semaphore::tryAcquire() {
  std::lock_guard lock(mutex_);
  if (count_ == 0) return false;
  --count_;
  return true;
}

// Notifies while still holding the lock: a woken thread may destroy the semaphore as soon as it
// owns the count, and must not find a notify still running on it.
bool Semaphore::release(int count) {
  std::lock_guard lock(mutex_);
  if (count < 1 || count > maximum_ - count_) return false;
  count_ += count;
  if (count == 1) {
    available_.notify_one();
  } else {
    available_.notify_all();
  }
  return true;
}

int Semaphore::count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace kv4r::platform
