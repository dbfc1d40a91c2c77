#pragma once
// The window and controller tree under test: a virtual clock, a sandbox, a 320 x 568 phone
// (scale 1 keeps snapshots small), a key window and a fresh shared side-menu container. A
// Finger plays one touch sample by sample, so drags end exactly where a test wants.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "news/shell/NQSideViewController.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/console/TouchDriver.h"
#include "os/views/Device.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/Touch.h"
#include "os/views/Window.h"

namespace newstest {

inline os::DeviceProfile phone(const std::string& systemVersion) {
  os::DeviceProfile p;
  p.systemVersion = systemVersion;
  p.screenScale = 1;
  return p;
}

class ScreenFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    os::View::clearAnimationLog();
    NQSideViewController::setShared(side);
    window->setBackgroundColor(os::Color::white());
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    os::TouchDriver::advance(2);
    window->setHidden(true);
    NQSideViewController::setShared(nullptr);
  }
  void showSide(std::shared_ptr<os::ViewController> centre, std::shared_ptr<os::ViewController> left) {
    side->setRootViewController(std::move(centre));
    side->setLeftViewController(std::move(left));
    window->setRootViewController(side);
    os::TouchDriver::settle();
  }
  double centreX() const { return side->rootViewController()->view()->frame().origin.x; }
  static double lastAnimationDuration() { return os::View::animationLog().back().duration; }

  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  os::DeviceProfileScope device{phone("7.0")};
  std::shared_ptr<os::Window> window = std::make_shared<os::Window>();
  std::shared_ptr<NQSideViewController> side = std::make_shared<NQSideViewController>();
};

class Finger {
 public:
  Finger(os::Window& window, os::Point at) : window_(window) {
    touch_ = std::make_shared<os::Touch>(&window, at, os::Clock::monotonic());
    send();
  }
  void moveToX(double x) {
    os::Clock::advance(os::TouchDriver::kSampleInterval);
    os::RunLoop::main()->runUntilIdle();
    touch_->update(os::TouchPhase::Moved, os::Point{x, touch_->locationInWindow().y}, os::Clock::monotonic());
    send();
  }
  void lift() { finish(os::TouchPhase::Ended); }
  void cancel() { finish(os::TouchPhase::Cancelled); }

 private:
  void finish(os::TouchPhase phase) {
    touch_->update(phase, touch_->locationInWindow(), os::Clock::monotonic());
    send();
    os::RunLoop::main()->runUntilIdle();
  }
  void send() { window_.sendEvent(os::Event({touch_}, touch_->timestamp())); }
  os::Window& window_;
  std::shared_ptr<os::Touch> touch_;
};

// Put down at x0, the pan begins at the first sample (10 points on), released `travel` from x0.
inline void drag(os::Window& window, double x0, double y, double travel) {
  Finger f(window, os::Point{x0, y});
  f.moveToX(x0 + (travel < 0 ? -1 : 1) * os::PanGestureRecognizer::kHysteresis);
  f.moveToX(x0 + travel);
  f.lift();
}

}  // namespace newstest
