#pragma once
// Set-up for the window and controller tree tests: a virtual clock, a sandbox, a 320 x 568
// phone (scale 1, so snapshots stay small), a key window, and a fresh shared side-menu
// container. A Finger plays one touch step by step so drags end exactly where a test wants.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "news/controllers/NQSideViewController.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/TouchDriver.h"
#include "os/views/Device.h"
#include "os/views/Touch.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace newstest {

inline os::DeviceProfile phone(const std::string& systemVersion) {
  os::DeviceProfile p;
  p.systemVersion = systemVersion;
  p.screenSize = os::Size{320, 568};
  p.screenScale = 1;
  return p;
}

class ScreenFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    os::View::clearAnimationLog();
    side = std::make_shared<NQSideViewController>();
    NQSideViewController::setShared(side);
    window = std::make_shared<os::Window>();
    window->setBackgroundColor(os::Color::white());
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    os::TouchDriver::advance(2);
    window->setHidden(true);
    window.reset();
    NQSideViewController::setShared(nullptr);
    side.reset();
    os::RunLoop::main()->runUntilIdle();
  }
  // Puts the container on screen with these children.
  void showSide(std::shared_ptr<os::ViewController> centre, std::shared_ptr<os::ViewController> left,
                std::shared_ptr<os::ViewController> right = nullptr) {
    side->setRootViewController(std::move(centre));
    side->setLeftViewController(std::move(left));
    if (right) side->setRightViewController(std::move(right));
    window->setRootViewController(side);
    os::TouchDriver::settle();
  }
  double centreX() const { return side->rootViewController()->view()->frame().origin.x; }
  static double lastAnimationDuration() {
    const auto& log = os::View::animationLog();
    return log.empty() ? -1 : log.back().duration;
  }

  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  os::DeviceProfileScope device{phone("7.0")};
  std::shared_ptr<os::Window> window;
  std::shared_ptr<NQSideViewController> side;
};

// One finger, moved sample by sample (1/60 s apart on the clock).
class Finger {
 public:
  Finger(os::Window& window, os::Point at) : window_(window) {
    touch_ = std::make_shared<os::Touch>(&window, at, os::Clock::monotonic());
    send();
  }
  void moveTo(double x, double y) {
    os::Clock::advance(os::TouchDriver::kSampleInterval);
    os::RunLoop::main()->runUntilIdle();
    touch_->update(os::TouchPhase::Moved, os::Point{x, y}, os::Clock::monotonic());
    send();
  }
  // Moves horizontally, keeping the height.
  void moveToX(double x) { moveTo(x, touch_->locationInWindow().y); }
  void lift() { finish(os::TouchPhase::Ended); }
  void cancel() { finish(os::TouchPhase::Cancelled); }

 private:
  void finish(os::TouchPhase phase) {
    touch_->update(phase, touch_->locationInWindow(), os::Clock::monotonic());
    send();
    os::RunLoop::main()->runUntilIdle();
  }
  void send() {
    os::Event event({touch_}, touch_->timestamp());
    window_.sendEvent(event);
  }
  os::Window& window_;
  std::shared_ptr<os::Touch> touch_;
};

// A finger put down at x0 that crosses the pan's 10-point start distance in its first sample
// (the gesture begins there) and ends `travel` points right of x0.
inline void dragRight(os::Window& window, double x0, double y, double travel) {
  Finger f(window, os::Point{x0, y});
  f.moveToX(x0 + os::PanGestureRecognizer::kHysteresis);
  f.moveToX(x0 + travel);
  f.lift();
}

}  // namespace newstest
