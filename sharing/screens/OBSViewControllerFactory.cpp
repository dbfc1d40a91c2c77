#include "sharing/screens/OBSViewControllerFactory.h"

#include "sharing/screens/OBSOauthViewController.h"
#include "sharing/screens/OBSShareListController.h"
#include "sharing/screens/OBSocialFriendViewController.h"
#include "sharing/screens/OBShareEditViewController.h"
#include "sharing/service/OBSocialContext.h"

namespace {
constexpr std::size_t kCreatedTypesKept = 100;
}  // namespace

std::shared_ptr<OBSViewControllerFactory> OBSViewControllerFactory::sharedInstance() {
  return OBSocialContext::shared<OBSViewControllerFactory>();
}

std::shared_ptr<os::ViewController> OBSViewControllerFactory::createSocialViewController(
    int viewControllerType, int, const std::shared_ptr<OBSocialControllerService>& service) {
  createdTypes_.push_back(viewControllerType);
  // The newest kinds only: the factory lives as long as the reader, which opens a screen per share.
  if (createdTypes_.size() > kCreatedTypesKept) createdTypes_.erase(createdTypes_.begin());
  switch (viewControllerType) {
    case 2: return std::make_shared<OBSShareListController>(service);
    case 3: return std::make_shared<OBShareEditViewController>(service);
    case 7: return std::make_shared<OBSOauthViewController>(service);
    case 9: return std::make_shared<OBSocialFriendViewController>(service);
    default: return nullptr;
  }
}
