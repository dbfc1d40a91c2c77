#include "os/runtime/Semaphore.h"

#include "os/runtime/ClockWait.h"
#include "os/runtime/SpinWait.h"

namespace os {

bool Semaphore::signal() {
  // Under the lock: a waiter that polled its way out takes the lock before it returns, so the
  // semaphore outlives this call.
  std::lock_guard lock(mutex_);
  ++value_;
  cv_.notify_one();
  return waiters_ > 0;
}

void Semaphore::wait() {
  std::unique_lock lock(mutex_);
  if (value_ <= 0) {
    // Counted as waiting while it polls, so signal() reports it like a sleeper.
    ++waiters_;
    lock.unlock();
    // An answer handed over by another thread often comes within microseconds.
    thread_local SpinWait spin;
    const auto positive = [&] { return value_.load(std::memory_order_acquire) > 0; };
    spin.waitLocked(lock, cv_, positive);
    // Another waiter may have taken it between the poll and the lock.
    cv_.wait(lock, positive);
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
