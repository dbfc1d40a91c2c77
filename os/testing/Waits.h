#pragma once
// Waiting in a test for what the run loop brings (answers over loopback, work handed back).
#include <chrono>
#include <fstream>
#include <functional>

#include "os/runtime/RunLoop.h"

namespace os::testing {

// Runs the calling thread's run loop (the main one in a test body) until the condition holds.
// The real-time bound only stops a hang: loopback answers come in milliseconds.
inline bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
  return RunLoop::current()->runUntil(condition, seconds);
}

// How long the calling thread has waited, ready to run, for a processor (the kernel's scheduler
// statistics); zero where the kernel keeps none. Taken out of a measured wait, what is left is the
// wait itself, not how loaded the machine was meanwhile.
inline std::chrono::nanoseconds timeWaitingForAProcessor() {
  long long running = 0, waiting = 0;
  std::ifstream in("/proc/thread-self/schedstat");
  if (!(in >> running >> waiting)) return {};
  return std::chrono::nanoseconds(waiting);
}

}  // namespace os::testing
