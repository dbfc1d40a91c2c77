#pragma once
// Shared set-up for the screen tests: a virtual clock, a fresh sandbox, a key window filling
// the phone's screen, and a clean slate of alerts and transitions afterwards.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
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
    window = std::make_shared<Window>();
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    for (auto& a : AlertView::visibleAlertViews()) a->dismissWithClickedButtonIndex(-1, false);
    for (auto& s : ActionSheet::visibleActionSheets()) s->dismissWithClickedButtonIndex(-1, false);
    if (Responder* r = Responder::currentFirstResponder()) r->resignFirstResponder();
    TouchDriver::advance(2);
    window->setHidden(true);
    window.reset();
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
