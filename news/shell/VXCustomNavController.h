#pragma once
// The one navigation controller of the reader's screens, in the centre of the side menu. It
// draws its own back button and lets the reader drag the whole current screen away to the
// right, over a snapshot of the screen beneath, popping when released far enough. While a
// pushed screen shows, the side menu's own drag is off. Screens opened from the left menu name
// a back delegate, told when the reader comes back from them to the home screen.
#include <memory>
#include <vector>

#include "os/graphics/PackedImage.h"
#include "os/views/BarButtonItem.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ImageView.h"
#include "os/views/NavigationController.h"

// Told when the reader goes back from the first pushed screen to the home screen.
class VXReaderContext;

class VXNavBackClickDelegate {
 public:
  virtual ~VXNavBackClickDelegate() = default;
  // By the back button.
  virtual void backButtonClick() {}
  // By dragging the screen away.
  virtual void panGetstureRecognizerEnded() {}
};

class VXCustomNavController : public os::NavigationController, public os::GestureRecognizerDelegate {
 public:
  // Travel (from where the drag was recognised) past which a released drag-back pops.
  static constexpr double kDragBackThreshold = 50;
  // Seconds the screen takes to slide out, or back in place.
  static constexpr double kSettleDuration = 0.3;

  // `context`: the reader context the stack belongs to.
  VXCustomNavController(std::shared_ptr<os::ViewController> root, std::shared_ptr<VXReaderContext> context);
  std::string className() const override { return "VXCustomNavController"; }

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  void pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated) override;
  // Names the back delegate, then pushes.
  void pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated,
                          const std::shared_ptr<VXNavBackClickDelegate>& delegate);
  // Pushes, then shows (NO) or hides (YES) the navigation bar.
  void pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated, bool barTranslucent);
  std::shared_ptr<os::ViewController> popViewController(bool animated) override;

  bool barTranslucent() const { return barTranslucent_; }
  void setBarTranslucent(bool translucent);
  bool canDragBack() const { return canDragBack_; }
  void setCanDragBack(bool canDragBack) { canDragBack_ = canDragBack; }
  std::shared_ptr<VXNavBackClickDelegate> backDelegate() const { return backDelegate_.lock(); }
  void setBackDelegate(const std::shared_ptr<VXNavBackClickDelegate>& delegate) { backDelegate_ = delegate; }

  // [fixed space, back item]: the "navbar-back" button that calls backButtonClick.
  std::vector<std::shared_ptr<os::BarButtonItem>> custumBackButton();
  void backButtonClick();
  // The key window as a picture, kept packed (it is shown only if the reader drags back), or null
  // without a key window.
  std::shared_ptr<os::PackedImage> capture() const;
  void pan(os::PanGestureRecognizer& gesture);
  void moveViewWithX(double x);
  bool shouldReceiveTouch(os::GestureRecognizer& recognizer, const os::Touch& touch) override;

  bool isMoving() const { return isMoving_; }
  bool needBackDelegate() const { return needBackDelegate_; }
  // One snapshot per covered level; the last is the screen beneath the top one. An entry is null
  // when there was no key window to take it from, and for the root level (nothing lies beneath).
  const std::vector<std::shared_ptr<os::PackedImage>>& screenShotsList() const { return screenShotsList_; }
  const std::shared_ptr<os::View>& backgroundView() const { return backgroundView_; }
  const std::shared_ptr<os::View>& blackMask() const { return blackMask_; }
  const std::shared_ptr<os::ImageView>& lastScreenShot() const { return lastScreenShot_; }
  const std::shared_ptr<os::PanGestureRecognizer>& dragBackRecognizer() const { return panGesture_; }

 private:
  // The whole visible screen: the key window's root view.
  std::shared_ptr<os::View> screenView() const;
  bool dragBackAllowed() const;
  void settle(bool pop);
  // The side menu may take drags only while the home screen shows.
  void setSideMenuDrag(bool on) const;

  bool canDragBack_ = true;
  bool barTranslucent_ = true;
  std::weak_ptr<VXNavBackClickDelegate> backDelegate_;
  bool isMoving_ = false;
  // This controller is following the finger (a drag it accepted at its start).
  bool dragging_ = false;
  bool needBackDelegate_ = false;
  os::Point startTouch_;
  std::vector<std::shared_ptr<os::PackedImage>> screenShotsList_;
  std::shared_ptr<os::View> backgroundView_;
  std::shared_ptr<os::View> blackMask_;
  std::shared_ptr<os::ImageView> lastScreenShot_;
  std::shared_ptr<os::PanGestureRecognizer> panGesture_;
  // Weak: the context holds the side menu, which holds this stack.
  std::weak_ptr<VXReaderContext> context_;
};
