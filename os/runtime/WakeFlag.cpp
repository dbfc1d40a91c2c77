#include "os/runtime/WakeFlag.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "os/runtime/RunLoop.h"

namespace os {

namespace {

std::atomic<std::uint64_t> gSleepCalls{0}, gWakeCalls{0};

// The kernel compares the word with `expected` under its own lock before it sleeps, so a raise
// between our look and the sleep is never slept through.
void sleepWhile(std::atomic<int>& word, int expected) {
  gSleepCalls.fetch_add(1, std::memory_order_relaxed);
  ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void wakeAll(std::atomic<int>& word) {
  gWakeCalls.fetch_add(1, std::memory_order_relaxed);
  ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

void WakeFlag::set() {
  if (state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping) wakeAll(state_);
}

void WakeFlag::wait() {
  int state = state_.load(std::memory_order_acquire);
  if (state == kSet) return;
  RunLoop::releaseHeldWakeUps();
  for (;;) {
    if (state == kSet) return;
    // Marked before sleeping, so the raiser knows to wake; a failed mark read the new state.
    if (state == kClear && !state_.compare_exchange_weak(state, kSleeping, std::memory_order_acquire)) continue;
    sleepWhile(state_, kSleeping);
    state = state_.load(std::memory_order_acquire);
  }
}

std::uint64_t WakeFlag::sleepCalls() { return gSleepCalls.load(std::memory_order_relaxed); }

std::uint64_t WakeFlag::wakeCalls() { return gWakeCalls.load(std::memory_order_relaxed); }

}  // namespace os
