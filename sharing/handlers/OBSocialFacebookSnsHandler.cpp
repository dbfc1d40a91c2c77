#include "sharing/handlers/OBSocialFacebookSnsHandler.h"

#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/URLConnection.h"
#include "os/store/Bundle.h"
#include "os/views/AlertView.h"
#include "os/views/SocialComposeViewController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"

namespace {

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

void alert(const std::string& titleKey, const std::string& messageKey) {
  std::make_shared<os::AlertView>(localized(titleKey), localized(messageKey), std::weak_ptr<os::AlertViewDelegate>{},
                                  localized("button_ok"))
      ->show();
}

}  // namespace

std::shared_ptr<OBSocialFacebookSnsHandler> OBSocialFacebookSnsHandler::shareInstance() {
  return OBSocialContext::shared<OBSocialFacebookSnsHandler>();
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialFacebookSnsHandler::getFacebookTwitterPlatform(const std::string& name) {
  if (name != "facebook" && name != "twitter") return nullptr;
  auto platform = std::make_shared<OBSocialSnsPlatform>(name);
  const std::string images = "OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_" + name;
  platform->bigImageName = images + "_icon";
  platform->smallImageName = images + "_on.png";
  platform->smallImageOffName = images + "_off.png";
  platform->displayName = localized(name);
  platform->shareToType = name == "facebook" ? 21 : 22;
  platform->snsClickHandler = [name](const std::shared_ptr<os::ViewController>& controller,
                                     const std::shared_ptr<OBSocialControllerService>& service, bool) {
    auto handler = OBSocialFacebookSnsHandler::shareInstance();
    handler->postOpWithSnsName(name);
    handler->clickHandlerWithSnsName(name, controller, service);
  };
  return platform;
}

void OBSocialFacebookSnsHandler::clickHandlerWithSnsName(const std::string& name,
                                                         const std::shared_ptr<os::ViewController>& controller,
                                                         const std::shared_ptr<OBSocialControllerService>& service) {
  if (name != "facebook" && name != "twitter") return;
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  auto config = data->extConfig();
  auto content = config ? (name == "facebook" ? config->facebookData : config->twitterData) : nullptr;
  const std::string text = (content && content->shareText ? content->shareText : data->shareText()).value_or("");
  auto resource = content && content->urlResource && content->urlResource->resourceType != 0 ? content->urlResource
                                                                                              : data->urlResource();
  std::shared_ptr<os::Image> image = content ? content->shareImage : nullptr;
  if (!image && content && content->shareImageData) image = os::decodeImage(*content->shareImageData);
  if (!image && resource && resource->resourceType == 1 && resource->url) {
    os::Error error;
    if (auto bytes = os::URLConnection::sendSynchronousRequest(os::URLRequest(*resource->url), nullptr, &error))
      image = os::decodeImage(*bytes);
  }
  if (!image) image = data->shareImage();

  auto delegate = service ? service->socialUIDelegate() : nullptr;
  if (!os::SocialComposeViewController::isAvailable()) {
    // No compose screen on this system: nothing will answer, so this share's caller hears that
    // nothing went.
    handleUIDelegate(delegate, name, OBSocialResponseCodeNotSent, std::string("the system has no compose screen"),
                     std::nullopt);
    return alert("share_facebook_no_osSupport", "share_facebook_no_osSupport_message");
  }
  const std::string type = name == "facebook" ? kOBSocialFacebookServiceType : kOBSocialTwitterServiceType;
  if (!os::SocialComposeViewController::isAvailableForServiceType(type)) {
    handleUIDelegate(delegate, name, OBSocialResponseCodeNoSystemAccount, std::string("user not login"), std::nullopt);
    return alert("share_facebook_not_login", "share_facebook_not_login_message");
  }
  auto composer = os::SocialComposeViewController::composeViewControllerForServiceType(type);
  if (!composer) {
    handleUIDelegate(delegate, name, OBSocialResponseCodeNotSent, std::string("the system has no compose screen"),
                     std::nullopt);
    return;
  }
  if (!controller) {
    // No screen to show it on: this share's caller hears that nothing went.
    handleUIDelegate(delegate, name, OBSocialResponseCodeNotSent, std::string("the composer could not be shown"),
                     std::nullopt);
    return;
  }
  handleClickHandler(service, name);
  composer->setInitialText(text);
  if (image) composer->addImage(image);
  // The compose screen's answer keeps the controller service alive until it has been given:
  // whoever asked for the share may have let go of it.
  std::weak_ptr<os::ViewController> weakController = controller;
  // The outcome goes to the caller of now, whoever the service's UI delegate is by then.
  std::weak_ptr<OBSocialUIDelegate> caller = delegate;
  composer->setCompletionHandler([name, text, service, caller, weakController](os::SocialComposeResult result) {
    auto self = OBSocialFacebookSnsHandler::shareInstance();
    int code = static_cast<int>(result);
    std::optional<std::string> message;
    if (result == os::SocialComposeResult::Cancelled) {
      code = OBSocialResponseCodeCancelled;
      message = "user cancel the operation";
    } else if (result == os::SocialComposeResult::Done) {
      self->postOpWithText(text, name);
      code = OBSocialResponseCodeSuccess;
    }
    self->handleUIDelegate(caller.lock(), name, code, message, std::nullopt);
    if (auto presenting = weakController.lock()) presenting->dismissViewController(true);
  });
  controller->presentViewController(composer, true);
  if (composer->presentingViewController()) return;
  // Refused (another screen is presented there): nobody will answer through the compose screen,
  // which lets go of the share here.
  composer->setCompletionHandler(nullptr);
  handleUIDelegate(delegate, name, OBSocialResponseCodeNotSent, std::string("the composer could not be shown"),
                   std::nullopt);
}
