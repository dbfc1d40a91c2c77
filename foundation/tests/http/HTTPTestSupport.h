#pragma once
// Shared helpers of the HTTP client tests: a loopback server and a main run loop driven by the test.
#include "os/testing/HttpTestServer.h"
#include "os/testing/Waits.h"

namespace httptest {

using os::testing::runUntil;

}  // namespace httptest
