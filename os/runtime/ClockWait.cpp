#include "os/runtime/ClockWait.h"

#include <chrono>
#include <cmath>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"

namespace os {

bool waitWithClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   const std::function<bool()>& ready, double timeout) {
  if (!ready()) RunLoop::releaseHeldWakeUps();
  if (timeout < 0 || std::isinf(timeout)) {
    cv.wait(lock, ready);
    return true;
  }
  if (!Clock::isVirtual()) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    return cv.wait_until(lock, std::chrono::time_point_cast<std::chrono::steady_clock::duration>(deadline), ready);
  }
  // Virtual time moves only by Clock::advance, from any thread: look at it in short real slices
  // (it is never slept on, only polled).
  const double deadline = Clock::monotonic() + timeout;
  for (;;) {
    if (ready()) return true;
    if (Clock::monotonic() >= deadline) return false;
    cv.wait_for(lock, std::chrono::milliseconds(2));
  }
}

}  // namespace os
