#pragma once
// Waiting in a test for what the run loop brings (answers over loopback, work handed back).
#include <functional>

#include "os/runtime/RunLoop.h"

namespace os::testing {

// Runs the calling thread's run loop (the main one in a test body) until the condition holds.
// The real-time bound only stops a hang: loopback answers come in milliseconds.
inline bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
  return RunLoop::current()->runUntil(condition, seconds);
}

}  // namespace os::testing
