#pragma once
// Shared set-up for the screen tests: a virtual clock, a fresh sandbox, a key window filling
// the phone's screen, and a clean slate of alerts and transitions afterwards.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestSandbox.h"
#include "os/console/TouchDriver.h"
#include "os/views/AlertView.h"
#include "os/views/Device.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os::test {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    View::clearAnimationLog();
    window = testing::showKeyWindow();
  }
  void TearDown() override {
    testing::dismissVisibleAlerts(-1);
    if (Responder* r = Responder::currentFirstResponder()) r->resignFirstResponder();
    TouchDriver::advance(2);
    testing::hideKeyWindow(window);
    RunLoop::main()->runUntilIdle();
  }

  VirtualClockScope clock;
  TestSandbox sandbox;
  DeviceProfileScope device{DeviceProfile{}};
  std::shared_ptr<Window> window;
};

// Collects what delegates and actions report, in order.
struct Trace {
  std::vector<std::string> events;
  void add(std::string e) { events.push_back(std::move(e)); }
  void clear() { events.clear(); }
};

}  // namespace os::test
