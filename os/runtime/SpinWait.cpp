#include "os/runtime/SpinWait.h"

#include <sched.h>

#include <algorithm>

namespace os {

void SpinWait::note(std::chrono::steady_clock::time_point start, bool arrived) {
  const bool quick = arrived && Nanoseconds(std::chrono::steady_clock::now() - start).count() <= kLimit;
  const int was = score_.load(std::memory_order_relaxed);
  score_.store(quick ? std::min(was + 1, kScoreBound) : std::max(was - 1, -kScoreBound), std::memory_order_relaxed);
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
