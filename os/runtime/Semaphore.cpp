#include "os/runtime/Semaphore.h"

#include "os/runtime/ClockWait.h"

namespace os {

bool Semaphore::signal() {
  // Under the lock: the waiter it wakes may destroy the semaphore as soon as it has it, and it
  // cannot have it before this call lets the lock go.
  std::lock_guard lock(mutex_);
  ++value_;
  if (waiters_ == 0) return false;
  cv_.notify_one();
  return true;
}

void Semaphore::wait() {
  std::unique_lock lock(mutex_);
  if (value_ <= 0) {
    ++waiters_;
    waitUntilReady(lock, cv_, [&] { return value_ > 0; });
    --waiters_;
  }
  --value_;
}

bool Semaphore::waitFor(double timeout) {
  std::unique_lock lock(mutex_);
  bool got = value_ > 0;
  if (!got && timeout > 0) {
    ++waiters_;
    got = waitWithClock(lock, cv_, [&] { return value_ > 0; }, timeout);
    --waiters_;
  }
  if (got) --value_;
  return got;
}

}  // namespace os
