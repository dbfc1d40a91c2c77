#include "sharing/service/OBSocialSnsService.h"

#include "foundation/ServiceCallLog.h"
#include "os/core/Log.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"
#include "os/views/ViewController.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/screens/OBSShareListController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBUtils.h"

namespace {

constexpr const char* kService = "OBSocialSnsService";

os::Value namesValue(const std::optional<std::vector<std::string>>& names) {
  if (!names) return os::Value();
  os::Array list;
  list.reserve(names->size());
  for (const auto& name : *names) list.emplace_back(name);
  return os::Value(std::move(list));
}

}  // namespace

std::shared_ptr<OBSocialSnsService> OBSocialSnsService::sharedInstance() { return OBSocialContext::shared<OBSocialSnsService>(); }

void OBSocialSnsService::applicationDidBecomeActive() { ServiceCallLog::record(kService, "applicationDidBecomeActive"); }

bool OBSocialSnsService::handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>& wxApiDelegate) {
  ServiceCallLog::record(kService, "handleOpenURL", os::Dictionary{{"url", os::Value(url.absoluteString())}});
  return OBSocialSnsHandler::shareInstance()->handleOpenURL(url, wxApiDelegate);
}

void OBSocialSnsService::presentSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller,
                                                 const std::optional<std::string>& appKey,
                                                 const std::optional<std::string>& shareText,
                                                 const std::shared_ptr<os::Image>& shareImage,
                                                 const std::optional<std::vector<std::string>>& shareToSnsNames,
                                                 const std::weak_ptr<OBSocialUIDelegate>& delegate) {
  ServiceCallLog::record(kService, "presentSnsIconSheetView",
                         os::Dictionary{{"appKey", ServiceCallLog::optional(appKey)},
                                        {"shareText", ServiceCallLog::optional(shareText)},
                                        {"shareToSnsNames", namesValue(shareToSnsNames)}},
                         IconSheetObjects{controller, shareImage, delegate});
  sharedInstance()->showSnsIconSheetView(controller, appKey, shareText, shareImage, shareToSnsNames, delegate);
  OBSocialOpAnalytics::postSocialAnalytics("2");
}

void OBSocialSnsService::presentSnsController(const std::shared_ptr<os::ViewController>& controller,
                                              const std::optional<std::string>& appKey,
                                              const std::optional<std::string>& shareText,
                                              const std::shared_ptr<os::Image>& shareImage,
                                              const std::optional<std::vector<std::string>>& shareToSnsNames,
                                              const std::weak_ptr<OBSocialUIDelegate>& delegate) {
  sharedInstance()->presentSnsController(controller, appKey, shareText, shareImage, shareToSnsNames, delegate, true);
  OBSocialOpAnalytics::postSocialAnalytics("1");
}

void OBSocialSnsService::setSocialDataWithController(const std::shared_ptr<os::ViewController>& controller,
                                                     const std::optional<std::string>& appKey,
                                                     const std::optional<std::string>& shareText,
                                                     const std::shared_ptr<os::Image>& shareImage,
                                                     const std::weak_ptr<OBSocialUIDelegate>& delegate) {
  presentingViewController_ = controller;
  if (appKey)
    OBSocialData::setAppKey(*appKey);
  else if (OBSocialData::appKey().empty())
    os::log("you should set Ombra Appkey!");
  if (!socialControllerService_) socialControllerService_ = OBSocialControllerService::defaultControllerService();
  socialControllerService_->setShareText(shareText, shareImage, delegate);
}

std::vector<std::string> OBSocialSnsService::namesOrConfigured(const std::optional<std::vector<std::string>>& names) const {
  return names ? *names : OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray();
}

void OBSocialSnsService::showSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller,
                                              const std::optional<std::string>& appKey,
                                              const std::optional<std::string>& shareText,
                                              const std::shared_ptr<os::Image>& shareImage,
                                              const std::optional<std::vector<std::string>>& shareToSnsStrings,
                                              const std::weak_ptr<OBSocialUIDelegate>& delegate) {
  setSocialDataWithController(controller, appKey, shareText, shareImage, delegate);
  if (!controller) {
    // A sheet over no screen could never be closed: it is not shown.
    OBUtils::outLog("you must pass the controller !!");
    return;
  }
  auto sheet = socialControllerService_->getSocialIconActionSheetInControllerInternal(controller);
  sheet->setSnsNames(namesOrConfigured(shareToSnsStrings));
  // The platform has no tab bar controllers: a visible navigation bar's controller, else the
  // screen itself.
  std::shared_ptr<os::ViewController> host = controller;
  if (auto navigation = controller->navigationController(); navigation && !navigation->isNavigationBarHidden())
    host = navigation->shared_from_this() ? std::static_pointer_cast<os::ViewController>(navigation->shared_from_this()) : controller;
  sheet->showInView(host->view());
}

void OBSocialSnsService::presentSnsController(const std::shared_ptr<os::ViewController>& controller,
                                              const std::optional<std::string>& appKey,
                                              const std::optional<std::string>& shareText,
                                              const std::shared_ptr<os::Image>& shareImage,
                                              const std::optional<std::vector<std::string>>& shareToSnsStrings,
                                              const std::weak_ptr<OBSocialUIDelegate>& delegate, bool) {
  setSocialDataWithController(controller, appKey, shareText, shareImage, delegate);
  auto list = socialControllerService_->getSocialShareListControllerInternal();
  if (auto carrier = std::dynamic_pointer_cast<os::NavigationController>(list))
    if (auto screen = std::dynamic_pointer_cast<OBSShareListController>(carrier->topViewController())) {
      os::Array names;
      for (const auto& name : namesOrConfigured(shareToSnsStrings)) names.emplace_back(name);
      screen->setAllSnsArray(std::move(names));
    }
  if (!list || !controller) {
    OBUtils::outLog("you must pass the controller !!");
    // Nothing shows the list: the service keeps no record of it.
    if (list) socialControllerService_->screenNotShown(list);
    return;
  }
  controller->presentViewController(list, true);
  // Refused (another screen is presented there): the list never opened.
  if (!list->presentingViewController()) socialControllerService_->screenNotShown(list);
}
