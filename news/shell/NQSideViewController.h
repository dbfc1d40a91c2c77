#pragma once
// The window's root: shows the centre (root) controller full size and slides it aside to
// reveal a left or right menu lying beneath it. The reader opens the menu by dragging the
// centre to the right and closes it by tapping or dragging the part of the centre still in
// view. One shared instance serves the application.
#include <cstdint>
#include <memory>

#include "os/graphics/Geometry.h"
#include "os/views/Button.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ViewController.h"

class VXReaderContext;

class NQSideViewController : public os::ViewController, public os::GestureRecognizerDelegate {
 public:
  // Seconds a full open (or close) takes; partial moves take their share of it.
  static constexpr double kSlideDuration = 0.35;
  // How much of the centre stays in view when a menu is open.
  static constexpr double kCentreShownWhenOpen = 60;
  // Travel past which a released drag opens a menu.
  static constexpr double kOpenThreshold = 50;

  NQSideViewController();
  ~NQSideViewController() override;
  std::string className() const override { return "NQSideViewController"; }

  // The shared container, made on first use.
  static std::shared_ptr<NQSideViewController> share();
  // The container of a given context (share() asks the current one).
  static std::shared_ptr<NQSideViewController> share(VXReaderContext& context);
  // Replaces the shared container (null: a fresh one on the next share()); returns the previous.
  static std::shared_ptr<NQSideViewController> setShared(std::shared_ptr<NQSideViewController> controller);

  // The container's view starts at the size it takes in the window, so its children,
  // sized for the screen, are not stretched when the window places it.
  void loadView() override;
  void viewDidLoad() override;

  const std::shared_ptr<os::ViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<os::ViewController> controller);
  const std::shared_ptr<os::ViewController>& leftViewController() const { return left_; }
  void setLeftViewController(std::shared_ptr<os::ViewController> controller);
  const std::shared_ptr<os::ViewController>& rightViewController() const { return right_; }
  void setRightViewController(std::shared_ptr<os::ViewController> controller);

  void showLeftViewController(bool animated);
  void showRightViewController(bool animated);
  void hideSideViewController();

  // Whether the container's own drag is installed; other views may still hand it pans.
  bool canDrag() const { return canDrag_; }
  void setCanDrag(bool canDrag);
  double showWidth() const { return showWidth_; }
  void setShowWidth(double width) { showWidth_ = width; }

  // Moves the centre after a drag (the container's own, or one another view hands over).
  void pan(os::PanGestureRecognizer& gesture);
  void layoutCurrentViewWithOffset(double x);

  // A menu is being revealed or shown on that side.
  bool showLeft() const { return showLeft_; }
  bool showRight() const { return showRight_; }
  // A menu was opened fully by showLeftViewController / showRightViewController.
  bool leftSideIsShow() const { return leftSideIsShow_; }
  bool rightSideIsShow() const { return rightSideIsShow_; }

  const std::shared_ptr<os::Button>& coverButton() const { return coverButton_; }
  const std::shared_ptr<os::PanGestureRecognizer>& panGestureRecognizer() const { return panGesture_; }

 private:
  bool willShowLeftViewController();
  bool willShowRightViewController();
  // Inserts a side view beneath the centre and takes the other side's view out.
  bool willShowSide(const std::shared_ptr<os::ViewController>& side, const std::shared_ptr<os::ViewController>& other);
  void showSide(bool left, bool animated);
  void clickButton() { hideSideViewController(); }
  os::Rect childFrame() const;
  double centreX() const;
  void adopt(std::shared_ptr<os::ViewController>& slot, std::shared_ptr<os::ViewController> controller);

  std::shared_ptr<os::ViewController> root_, left_, right_;
  std::shared_ptr<os::Button> coverButton_;
  std::shared_ptr<os::PanGestureRecognizer> panGesture_;
  bool showLeft_ = false, showRight_ = false;
  bool leftSideIsShow_ = false, rightSideIsShow_ = false;
  os::Point startPoint_;
  bool canDrag_ = true;
  double showWidth_ = 0;
  // Bumped by every open, close and drag start, so a close that finishes after the reader
  // moved on does not tear down the menu now in use.
  std::uint64_t slideGeneration_ = 0;
};
