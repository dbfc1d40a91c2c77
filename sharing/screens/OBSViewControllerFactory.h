#pragma once
// Builds the sharing screens by kind: 2 the share list, 3 the share editor, 7 the OAuth web
// screen, 9 the friend picker. Every other kind, the account screen (4) included, builds nothing.
#include <memory>
#include <vector>

namespace os {
class ViewController;
}
class OBSocialControllerService;

class OBSViewControllerFactory {
 public:
  static std::shared_ptr<OBSViewControllerFactory> sharedInstance();

  // The platform type plays no part in the choice.
  std::shared_ptr<os::ViewController> createSocialViewController(int viewControllerType, int platformType,
                                                                 const std::shared_ptr<OBSocialControllerService>& service);
  // The kinds of the newest 100 screens asked for, oldest first.
  const std::vector<int>& createdTypes() const { return createdTypes_; }

 private:
  std::vector<int> createdTypes_;
};
