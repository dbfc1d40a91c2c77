#pragma once
// A screen's controller: loads its view on first use, hears the appearance callbacks in the
// platform's order (will-appear/will-disappear at the start of a transition, did-* at its end,
// which an animated transition reaches after kTransitionDuration on os::Clock), holds child
// controllers and presents other controllers modally: over the whole window, or on a pad as a
// centred form sheet over a dimmed presenter that stays on screen.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/graphics/Geometry.h"
#include "os/views/Application.h"
#include "os/views/Responder.h"

namespace os {

class View;
class Window;
class NavigationController;
class NavigationItem;

enum RectEdge : unsigned { kRectEdgeNone = 0, kRectEdgeTop = 1, kRectEdgeLeft = 2, kRectEdgeBottom = 4, kRectEdgeRight = 8, kRectEdgeAll = 15 };
enum class ModalTransitionStyle { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };
// Only FormSheet differs from FullScreen here, and only on a pad; elsewhere every style covers the
// window.
enum class ModalPresentationStyle { FullScreen = 0, PageSheet = 1, FormSheet = 2, CurrentContext = 3 };
enum InterfaceOrientationMask : unsigned {
  kInterfaceOrientationMaskPortrait = 1 << 1,
  kInterfaceOrientationMaskLandscapeLeft = 1 << 4,
  kInterfaceOrientationMaskLandscapeRight = 1 << 3,
  kInterfaceOrientationMaskPortraitUpsideDown = 1 << 2,
  kInterfaceOrientationMaskAll = (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4),
};

class ViewController : public Responder {
 public:
  // Seconds an animated push, pop, presentation or dismissal takes.
  static constexpr double kTransitionDuration = 0.35;
  // A form sheet's size on a pad, centred in the window (and kept within it).
  static constexpr Size kFormSheetSize{540, 620};

  ViewController();
  ~ViewController() override;
  virtual std::string className() const { return "ViewController"; }

  // The root view, loaded (loadView, then viewDidLoad) on first use.
  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(std::shared_ptr<View> view);
  // Makes a plain view of the application frame; override to build another.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}
  virtual void didReceiveMemoryWarning() {}
  // Whether the view is in a window and has appeared.
  bool isVisible() const { return appearance_ == Appearance::Appeared; }

  const std::string& title() const { return title_; }
  virtual void setTitle(std::string title);
  std::shared_ptr<NavigationItem> navigationItem();
  // The nearest navigation controller among this controller and its parents.
  NavigationController* navigationController() const;

  // Containment.
  ViewController* parentViewController() const { return parent_; }
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
  void addChildViewController(const std::shared_ptr<ViewController>& child);
  void removeFromParentViewController();
  virtual void willMoveToParentViewController(ViewController* parent) {}
  virtual void didMoveToParentViewController(ViewController* parent) {}

  // Modal presentation over the window that shows this controller.
  void presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                             std::function<void()> completion = {});
  // Dismisses the controller this one presents, or, without one, this controller itself.
  void dismissViewController(bool animated, std::function<void()> completion = {});
  const std::shared_ptr<ViewController>& presentedViewController() const { return presented_; }
  ViewController* presentingViewController() const { return presenting_; }
  ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
  void setModalTransitionStyle(ModalTransitionStyle s) { transitionStyle_ = s; }
  ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
  void setModalPresentationStyle(ModalPresentationStyle s) { presentationStyle_ = s; }

  // Appearance transitions, for containers; the children named by childrenForAppearance() follow.
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();
  virtual std::vector<ViewController*> childrenForAppearance() const;

  // Orientation and status bar.
  virtual bool shouldAutorotate() const { return true; }
  virtual unsigned supportedInterfaceOrientations() const { return kInterfaceOrientationMaskPortrait; }
  InterfaceOrientation interfaceOrientation() const { return InterfaceOrientation::Portrait; }
  virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }
  virtual bool prefersStatusBarHidden() const { return false; }
  // Applies prefersStatusBarHidden() to the application's status bar.
  void setNeedsStatusBarAppearanceUpdate();

  unsigned edgesForExtendedLayout() const { return edges_; }
  void setEdgesForExtendedLayout(unsigned e) { edges_ = e; }
  bool automaticallyAdjustsScrollViewInsets() const { return adjustsInsets_; }
  void setAutomaticallyAdjustsScrollViewInsets(bool a) { adjustsInsets_ = a; }
  bool hidesBottomBarWhenPushed() const { return hidesBottomBar_; }
  void setHidesBottomBarWhenPushed(bool h) { hidesBottomBar_ = h; }

  // The view's superview (a controller's view answers its controller first).
  Responder* nextResponder() const override;

  // Where this controller's view goes when it fills a window of these bounds: below the status
  // bar before system 7, the whole window from 7 on.
  virtual Rect frameForRootView(const Rect& windowBounds) const;

 protected:
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
  Appearance appearance() const { return appearance_; }
  // Runs `finish` now, or after kTransitionDuration on the main run loop when animated; a
  // transition still pending is finished first.
  static void runTransition(bool animated, std::function<void()> finish);
  static void finishPendingTransition();

 private:
  friend class NavigationController;
  friend class Window;
  ViewController* presentationHost();

  std::shared_ptr<View> view_;
  std::string title_;
  std::shared_ptr<NavigationItem> navigationItem_;
  ViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::shared_ptr<ViewController> presented_;
  ViewController* presenting_ = nullptr;
  ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
  ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
  // Set while this controller is on screen as a form sheet: the dimming view under it, which
  // also keeps touches from the presenter behind, and the sheet holding its view (resizing the
  // sheet's bounds resizes the screen about the same centre).
  std::shared_ptr<View> sheetDimming_;
  std::shared_ptr<View> sheetContainer_;
  Appearance appearance_ = Appearance::Disappeared;
  bool appearanceAnimated_ = false;
  unsigned edges_ = kRectEdgeAll;
  bool adjustsInsets_ = true;
  bool hidesBottomBar_ = false;
  bool loading_ = false;
};

}  // namespace os
