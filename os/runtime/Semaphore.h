#pragma once
// A counting semaphore. Waits may time out after seconds of os::Clock.
#include <condition_variable>
#include <mutex>

namespace os {

class Semaphore {
 public:
  explicit Semaphore(long value = 0) : value_(value) {}
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Returns true when a waiting thread was woken.
  bool signal();
  void wait();
  // True when the semaphore was obtained; a timeout of 0 or less only tries.
  bool waitFor(double timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;  // under mutex_
  int waiters_ = 0;
};

}  // namespace os
