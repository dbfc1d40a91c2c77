#include "os/runtime/SpinWait.h"

#include <sched.h>

#include <algorithm>

namespace os {

namespace {
// About one loopback round trip through another thread on an idle virtual machine (measured):
// the longest wait worth polling through, far shorter than a time slice.
constexpr std::int64_t kLimit = 150'000;

}  // namespace

SpinWait::SpinWait() : limit_(kLimit) {}

void SpinWait::note(std::chrono::steady_clock::time_point start, bool arrived) {
  // A long wait, or one that gave up, counts as a few limits: enough to stop polling, little
  // enough that a run of short waits brings it back soon.
  const std::int64_t cap = 4 * limit_;
  std::int64_t took = arrived ? Nanoseconds(std::chrono::steady_clock::now() - start).count() : cap;
  took = std::min(took, cap);
  std::int64_t was = estimate_.load(std::memory_order_relaxed);
  estimate_.store(was + (took - was) / 4, std::memory_order_relaxed);
}

void SpinWait::pause(unsigned round) {
  // A few quiet polls first (an answer already on its way), then give the processor away.
  if (round < 4) {
#if defined(__x86_64__) || defined(__i386__)
    for (int i = 0; i < 16; ++i) __builtin_ia32_pause();
#endif
    return;
  }
  ::sched_yield();
}

}  // namespace os
