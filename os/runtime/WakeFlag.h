#pragma once
// A flag that one thread raises and others sleep on until it is up. A waiter woken goes on at
// once: one woken from a condition variable first takes the variable's mutex back, and takes it
// marked as wanted by others, so that letting it go costs one more system call that wakes no one,
// on the woken thread's way back to work. Raising costs a system call only when someone sleeps.
#include <atomic>
#include <cstdint>

namespace os {

class WakeFlag {
 public:
  WakeFlag() = default;
  WakeFlag(const WakeFlag&) = delete;
  WakeFlag& operator=(const WakeFlag&) = delete;

  bool isSet() const { return state_.load(std::memory_order_acquire) == kSet; }
  // Raises the flag and wakes every waiter. Any thread.
  void set();
  // Lowers it again, for its next use; only while no one waits on it.
  void clear() { state_.store(kClear, std::memory_order_relaxed); }
  // Until the flag is up. Like every blocking wait of the runtime, lets go first of the wake-ups
  // the thread holds for others (see RunLoop::releaseHeldWakeUps).
  void wait();

  // The system calls every flag of the process made so far, to sleep and to wake: tests count
  // what a hand-over costs with them.
  static std::uint64_t sleepCalls();
  static std::uint64_t wakeCalls();

 private:
  static constexpr int kClear = 0, kSet = 1, kSleeping = 2;  // kSleeping: down, with a waiter
  std::atomic<int> state_{kClear};
};

}  // namespace os
