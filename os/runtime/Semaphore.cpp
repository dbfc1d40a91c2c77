#include "os/runtime/Semaphore.h"

#include <limits>

#include "os/runtime/ClockWait.h"

namespace os {

bool Semaphore::signal() {
  std::lock_guard lock(mutex_);
  ++value_;
  cv_.notify_one();
  return waiters_ > 0;
}

void Semaphore::wait() { waitFor(std::numeric_limits<double>::infinity()); }

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
