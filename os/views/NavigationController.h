#pragma once
// A stack of controllers under a navigation bar. Push and pop run the appearance callbacks of
// the controllers leaving and arriving (did-* after kTransitionDuration when animated) and tell
// the delegate before and after.
#include <memory>
#include <vector>

#include "os/views/NavigationBar.h"
#include "os/views/ViewController.h"

namespace os {

class NavigationController;

class NavigationControllerDelegate {
 public:
  virtual ~NavigationControllerDelegate() = default;
  virtual void willShowViewController(NavigationController& nav, ViewController& controller, bool animated) {}
  virtual void didShowViewController(NavigationController& nav, ViewController& controller, bool animated) {}
};

class NavigationController : public ViewController {
 public:
  NavigationController();
  explicit NavigationController(std::shared_ptr<ViewController> root);
  ~NavigationController() override;
  std::string className() const override { return "NavigationController"; }

  // Raises os::Exception (invalid argument) for a controller already on the stack.
  virtual void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
  // Null when only the root is left.
  virtual std::shared_ptr<ViewController> popViewController(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToRootViewController(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToViewController(const ViewController* controller, bool animated);
  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated = false);
  std::shared_ptr<ViewController> topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  // The top controller, or what it presents.
  std::shared_ptr<ViewController> visibleViewController() const;

  const std::shared_ptr<NavigationBar>& navigationBar() const { return bar_; }
  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);

  std::shared_ptr<NavigationControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<NavigationControllerDelegate> d) { delegate_ = std::move(d); }

  void loadView() override;
  std::vector<ViewController*> childrenForAppearance() const override;
  // Places the bar and the top controller's view.
  void layoutContent();

 private:
  void transition(const std::shared_ptr<ViewController>& from, const std::shared_ptr<ViewController>& to, bool animated,
                  std::vector<std::shared_ptr<ViewController>> leaving);
  Rect contentFrame(const ViewController& controller) const;

  std::vector<std::shared_ptr<ViewController>> stack_;
  std::shared_ptr<NavigationBar> bar_;
  bool barHidden_ = false;
  std::weak_ptr<NavigationControllerDelegate> delegate_;
};

}  // namespace os
