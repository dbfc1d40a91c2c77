#pragma once
// Shared helpers of the HTTP client tests: a loopback server and a main run loop driven by the test.
#include <functional>

#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"

namespace httptest {

// Runs the main run loop until the condition holds (real seconds bound; the loopback server
// answers within milliseconds).
inline bool runUntil(const std::function<bool()>& condition, double timeout = 10) {
  return os::RunLoop::main()->runUntil(condition, timeout);
}

}  // namespace httptest
