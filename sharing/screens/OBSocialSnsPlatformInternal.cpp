#include <utility>

#include "os/core/Log.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/NavigationController.h"
#include "os/views/ViewController.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBUtils.h"

OBSocialSnsPlatformInternal::OBSocialSnsPlatformInternal(std::weak_ptr<OBSocialSnsPlatform> platform)
    : platform_(std::move(platform)) {
  if (auto descriptor = platform_.lock()) platformName_ = descriptor->platformName;
}

int OBSocialSnsPlatformInternal::shareToType() const {
  return OBSocialSnsPlatformManagerInternal::getSnsPlatformType(platformName_);
}

void OBSocialSnsPlatformInternal::snsClickHandlerWithController(const std::shared_ptr<os::ViewController>& controller,
                                                                const std::shared_ptr<OBSocialControllerService>& service,
                                                                bool isPresent, const std::optional<std::string>& sourceOpType) {
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  dispatcher->handleClickHandler(service, platformName_, sourceOpType);
  if (shareToType() == 10) os::log("你需要按照文档要求添加qq空间设置才能进行分享");
  auto descriptor = platform();
  if (!descriptor || !descriptor->needLogin) {
    dispatcher->clickHandlerWithSnsName(platformName_, controller, service);
    return;
  }
  if (OBSocialAccountManager::isOauthAndTokenNotExpired(platformName_)) {
    openShareEditor(controller, service, isPresent, "3");
    return;
  }
  std::weak_ptr<OBSocialSnsPlatformInternal> weak = shared_from_this();
  std::weak_ptr<os::ViewController> weakController = controller;
  std::weak_ptr<OBSocialControllerService> weakService = service;
  snsLoginHandlerrWithController(
      controller, service, isPresent,
      [weak, weakController, weakService, isPresent](const std::shared_ptr<OBSocialResponseEntity>& response) {
        auto self = weak.lock();
        if (!self) return;
        if (response->responseCode == OBSocialResponseCodeSuccess) {
          self->openShareEditor(weakController.lock(), weakService.lock(), isPresent, "4");
          return;
        }
        // A failed login reaches the caller, whose delegate comes back into place. The reader is
        // told the share did not go (a cancel needs no word, a refused upload has its own alert).
        auto caller = self->socialUIDelegate.lock();
        self->giveDelegateBack(weakService.lock());
        if (response->responseCode != OBSocialResponseCodeCancelled &&
            response->responseCode != OBSocialResponseCodeAccountUploadFailed)
          OBSocialDataService::handleShareResult(self->platformName_, response);
        if (caller) caller->didFinishGetOBSocialDataInViewController(response);
      },
      std::string("3"));
}

void OBSocialSnsPlatformInternal::openShareEditor(const std::shared_ptr<os::ViewController>& controller,
                                                  const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                                                  const std::string& sourceOpType) {
  if (!service) return;
  if (isPresent) {
    auto editor = service->getSocialShareEditControllerInternal(platformName_, sourceOpType);
    if (editor && controller) controller->presentViewController(editor, true);
    // Nowhere to show it, or refused there: the service keeps no record of it.
    if (editor && !editor->presentingViewController()) service->screenNotShown(editor);
  } else if (controller && controller->navigationController()) {
    if (auto editor = service->getSocialViewController(3, platformName_))
      controller->navigationController()->pushViewController(editor, true);
  }
  giveDelegateBack(service);
}

void OBSocialSnsPlatformInternal::giveDelegateBack(const std::shared_ptr<OBSocialControllerService>& service) {
  if (!service) return;
  if (socialUIDelegate.lock() || service->socialUIDelegate().get() == this) service->setSocialUIDelegate(socialUIDelegate);
}

void OBSocialSnsPlatformInternal::snsLoginHandlerrWithController(const std::shared_ptr<os::ViewController>& controller,
                                                                 const std::shared_ptr<OBSocialControllerService>& service,
                                                                 bool isPresent, OBSocialCompletion completion,
                                                                 const std::optional<std::string>& sourceOpType) {
  OBSocialOpAnalytics::postSocialAnalytics("4", sourceOpType, platformName_);
  if (service) {
    service_ = service;
    // Standing in front twice would set this object aside as its own caller.
    auto current = service->socialUIDelegate();
    if (current.get() != this) socialUIDelegate = current;
    service->setSocialUIDelegate(weak_from_this());
  }
  if (socialLoginDelegate && socialLoginDelegate->isClientInstall(platformName_) && socialLoginDelegate->checkUrlSchema()) {
    auto dispatcher = OBSocialSnsHandler::shareInstance();
    std::weak_ptr<OBSocialSnsHandlerDelegate> waiting = dispatcher->currentSnsHandler();
    dispatcher->setCurrentSnsHandler(socialLoginDelegate);
    // A login whose application never opened ends before the call returns: whatever waited for
    // an answer (a share another application still owes) keeps its wait.
    auto endedAtOnce = std::make_shared<bool>(false);
    auto login = socialLoginDelegate;
    login->loginWithController(
        controller,
        [endedAtOnce, completion = std::move(completion)](const std::shared_ptr<OBSocialResponseEntity>& response) {
          *endedAtOnce = true;
          if (completion) completion(response);
        },
        platformName_);
    if (*endedAtOnce && dispatcher->currentSnsHandler() == login) dispatcher->setCurrentSnsHandler(waiting);
    return;
  }
  auto descriptor = platform();
  if (!descriptor || !descriptor->haveWebViewAuth || !service) {
    // Nothing can log in: the caller hears so instead of waiting for ever.
    giveDelegateBack(service);
    if (completion) {
      auto response = std::make_shared<OBSocialResponseEntity>();
      response->responseCode = OBSocialResponseCodeCancelled;
      response->message = "the platform cannot log in here";
      response->viewControllerType = 7;
      response->data = os::Dictionary{{platformName_, os::Value("")}};
      completion(response);
    }
    return;
  }
  service->nextViewController = -1;
  // One sign-in answer serves one login: a login still waiting for it ends as replaced, told
  // last, as its caller may start another login from its answer.
  OBSocialCompletion replaced;
  if (completion) replaced = std::exchange(loginCompletion, std::move(completion));
  if (isPresent) {
    auto oauth = service->getSocialOauthControllerInternal(platformName_, std::string("4"));
    if (oauth && controller) controller->presentViewController(oauth, true);
    if (oauth && !oauth->presentingViewController()) service->screenNotShown(oauth);
  } else {
    OBSocialOpAnalytics::postSocialAnalytics("7", std::string("4"), platformName_);
    auto screen = service->getSocialViewController(7, platformName_);
    if (screen && controller && controller->navigationController())
      controller->navigationController()->pushViewController(screen, true);
  }
  if (!replaced) return;
  auto cancelled = OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, kOBSocialReplacedLoginMessage, 9);
  cancelled->viewControllerType = 7;
  cancelled->data = os::Dictionary{{platformName_, os::Value("")}};
  replaced(cancelled);
}

void OBSocialSnsPlatformInternal::performLoginCompletion(const std::shared_ptr<OBSocialResponseEntity>& response) {
  if (!loginCompletion) return;
  auto completion = std::move(loginCompletion);
  loginCompletion = nullptr;
  completion(response);
}

void OBSocialSnsPlatformInternal::didFinishGetOBSocialDataInViewController(
    const std::shared_ptr<OBSocialResponseEntity>& response) {
  if (response->viewControllerType != 3) {
    std::weak_ptr<OBSocialSnsPlatformInternal> weak = shared_from_this();
    os::DispatchQueue::main()->asyncAfter(0.5, [weak, response] {
      if (auto self = weak.lock()) self->performLoginCompletion(response);
    });
    return;
  }
  if (auto caller = socialUIDelegate.lock()) caller->didFinishGetOBSocialDataInViewController(response);
}

void OBSocialSnsPlatformInternal::didCloseUIViewController(int type) {
  if (auto caller = socialUIDelegate.lock()) caller->didCloseUIViewController(type);
}

bool OBSocialSnsPlatformInternal::closeOauthWebViewController(const std::shared_ptr<os::NavigationController>& navigation,
                                                              const std::shared_ptr<OBSocialControllerService>& service) {
  if (auto caller = socialUIDelegate.lock()) {
    // A caller that takes the navigation over answers for it.
    if (caller->closeOauthWebViewController(navigation, service)) return true;
  }
  if (shareStatus != "1" || !service || !navigation) return false;
  OBSocialOpAnalytics::postSocialAnalytics("9", std::string("7"), platformName_);
  auto editor = service->getSocialViewController(3, service->currentSnsPlatformName);
  if (!editor) return false;
  navigation->pushViewController(editor, true);
  service->currentViewControllerType = 3;
  service->currentViewControllerArray.push_back(3);
  service->currentViewController = editor;
  loginCompletion = nullptr;
  shareStatus = "0";
  giveDelegateBack(service);
  return true;
}
