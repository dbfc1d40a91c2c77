#pragma once
// A window: the root of a view tree on the screen. Windows stack by level; the key window takes
// keyboard input. sendEvent() plays touches through hit testing, gesture recognizers and the
// responder chain. Layout passes and pending drawing of every window run on the main run loop
// after setNeedsLayout / setNeedsDisplay (or at once through layoutAllWindows()).
#include <memory>
#include <vector>

#include "os/views/View.h"

namespace os {

class ViewController;

inline constexpr double kWindowLevelNormal = 0;
inline constexpr double kWindowLevelAlert = 2000;
inline constexpr double kWindowLevelStatusBar = 1000;

inline constexpr const char* kWindowDidBecomeVisibleNotification = "WindowDidBecomeVisibleNotification";
inline constexpr const char* kWindowDidBecomeKeyNotification = "WindowDidBecomeKeyNotification";

class Window : public View {
 public:
  // The main screen's bounds.
  Window();
  explicit Window(const Rect& frame);
  ~Window() override;
  std::string className() const override { return "Window"; }

  void makeKeyAndVisible();
  void makeKeyWindow();
  bool isKeyWindow() const;
  double windowLevel() const { return level_; }
  void setWindowLevel(double level) { level_ = level; }

  // The root controller's view fills the window (below the status bar before system 7).
  const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller);

  // Touches: hit testing on Began, recognizers first, then the touched view.
  void sendEvent(const Event& event);

  static std::shared_ptr<Window> keyWindow();
  // Visible windows from the lowest level up (the order screen dumps print them).
  static std::vector<std::shared_ptr<Window>> windows();
  // Lays out and draws every window now (drivers call this before touching the screen).
  static void layoutAllWindows();
  static void scheduleLayoutPass();

  void setHidden(bool hidden);

 private:
  friend class ViewController;
  void registerWindow();
  double level_ = kWindowLevelNormal;
  std::shared_ptr<ViewController> root_;
  bool rootAppeared_ = false;
};

}  // namespace os
