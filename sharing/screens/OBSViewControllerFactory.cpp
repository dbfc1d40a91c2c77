#include "sharing/screens/OBSViewControllerFactory.h"

#include "sharing/screens/OBSOauthViewController.h"
#include "sharing/screens/OBSShareListController.h"
#include "sharing/screens/OBSocialFriendViewController.h"
#include "sharing/screens/OBShareEditViewController.h"
#include "sharing/service/OBSocialContext.h"

std::shared_ptr<OBSViewControllerFactory> OBSViewControllerFactory::sharedInstance() {
  return OBSocialContext::shared<OBSViewControllerFactory>();
}

std::shared_ptr<os::ViewController> OBSViewControllerFactory::createSocialViewController(
    int viewControllerType, int, const std::shared_ptr<OBSocialControllerService>& service) {
  createdTypes_.push_back(viewControllerType);
  switch (viewControllerType) {
    case 2: return std::make_shared<OBSShareListController>(service);
    case 3: return std::make_shared<OBShareEditViewController>(service);
    case 7: return std::make_shared<OBSOauthViewController>(service);
    case 9: return std::make_shared<OBSocialFriendViewController>(service);
    default: return nullptr;
  }
}
