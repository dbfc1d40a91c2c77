#include "sharing/handlers/OBSocialMailHandler.h"

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/URLConnection.h"
#include "os/store/Bundle.h"
#include "os/views/AlertView.h"
#include "os/views/NavigationController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBImageLoader.h"

namespace {

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

std::shared_ptr<OBSocialSnsData> contentOf(const std::shared_ptr<OBSocialData>& data, bool email) {
  auto config = data ? data->extConfig() : nullptr;
  if (!config) return nullptr;
  return email ? config->emailData : config->smsData;
}

void noSupport(const std::string& titleKey, const std::string& messageKey) {
  auto alert = std::make_shared<os::AlertView>(localized(titleKey), localized(messageKey),
                                               std::weak_ptr<os::AlertViewDelegate>{}, localized("button_ok"));
  alert->show();
}

// The share a composer was built for. The composer holds it, so the controller service lives
// while the composer is up, and goes with a composer that was never shown. The outcome goes to
// the caller of then, not to whoever the service's UI delegate is by the time it comes.
struct ComposedShare {
  std::shared_ptr<OBSocialControllerService> service;
  std::weak_ptr<OBSocialUIDelegate> caller;
  std::optional<std::string> shareText;
};
class MailComposer : public os::MailComposeViewController, public ComposedShare {};
class MessageComposer : public os::MessageComposeViewController, public ComposedShare {};

const ComposedShare* shareOf(const os::ViewController& composer) { return dynamic_cast<const ComposedShare*>(&composer); }

}  // namespace

std::shared_ptr<OBSocialMailHandler> OBSocialMailHandler::shareInstance() { return OBSocialContext::shared<OBSocialMailHandler>(); }

std::shared_ptr<OBSocialControllerService> OBSocialMailHandler::socialControllerService(const os::ViewController& composer) {
  auto share = shareOf(composer);
  return share ? share->service : nullptr;
}

std::optional<std::string> OBSocialMailHandler::shareText(const os::ViewController& composer) {
  auto share = shareOf(composer);
  return share ? share->shareText : std::nullopt;
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialMailHandler::getEmailSmsPlatform(const std::string& name) {
  auto platform = std::make_shared<OBSocialSnsPlatform>(name);
  if (name != "email" && name != "sms") return platform;
  const std::string images = "OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_" + name;
  platform->bigImageName = images + "_icon";
  platform->smallImageName = images + "_on";
  platform->smallImageOffName = images + "_off";
  platform->displayName = localized(name);
  platform->loginName = name == "email" ? "邮箱账号" : "手机号";
  platform->shareToType = name == "email" ? 18 : 19;
  platform->snsClickHandler = [name](const std::shared_ptr<os::ViewController>& controller,
                                     const std::shared_ptr<OBSocialControllerService>& service, bool) {
    auto handler = OBSocialMailHandler::shareInstance();
    handler->postOpWithSnsName(name);
    handler->clickHandlerWithSnsName(name, controller, service);
  };
  return platform;
}

void OBSocialMailHandler::clickHandlerWithSnsName(const std::string& name, const std::shared_ptr<os::ViewController>& controller,
                                                  const std::shared_ptr<OBSocialControllerService>& service) {
  handleClickHandler(service, name);
  auto caller = service ? service->socialUIDelegate() : nullptr;
  // The device cannot send this kind: no composer comes up to answer, so this share's caller
  // hears that nothing went before the reader is told why.
  auto unsupported = [&](const std::string& titleKey, const std::string& messageKey) {
    handleUIDelegate(caller, name, OBSocialResponseCodeNotSent, std::string("the device cannot send this"), std::nullopt);
    noSupport(titleKey, messageKey);
  };
  std::shared_ptr<os::ViewController> composer;
  if (name == "email") {
    if (!os::MailComposeViewController::canSendMail())
      return unsupported("share_email_no_osSupport", "share_email_no_osSupport_message");
    composer = getEditEmailController(service);
  } else if (name == "sms") {
    if (!os::MessageComposeViewController::canSendText())
      return unsupported("share_sms_no_osSupport", "share_sms_no_osSupport_message");
    composer = getEditSMSController(service);
  }
  if (!composer) return;
  if (controller) controller->presentViewController(composer, true);
  // Refused (another screen is presented there), or no screen to show it on: this share's caller
  // hears that nothing went, instead of waiting for a composer nobody sees.
  if (!composer->presentingViewController())
    handleUIDelegate(caller, name, OBSocialResponseCodeNotSent, std::string("the composer could not be shown"),
                     std::nullopt);
}

std::shared_ptr<os::MailComposeViewController> OBSocialMailHandler::getEditEmailController(
    const std::shared_ptr<OBSocialControllerService>& service) {
  if (!os::MailComposeViewController::canSendMail()) return nullptr;
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  auto content = contentOf(data, true);
  auto composer = std::make_shared<MailComposer>();
  composer->service = service;
  if (service) composer->caller = service->socialUIDelegate();
  composer->setMailComposeDelegate(shared_from_this());

  auto resource = content && content->urlResource && content->urlResource->resourceType != 0 ? content->urlResource
                                                                                              : data->urlResource();
  composer->shareText = content && content->shareText ? content->shareText : data->shareText();
  const auto& shareText = composer->shareText;
  std::string body = shareText ? os::escapeMarkup(*shareText) : "";
  auto image = content && content->shareImage ? content->shareImage : data->shareImage();
  std::optional<os::Data> imageBytes = content && content->shareImageData ? content->shareImageData : std::nullopt;
  auto config = data->extConfig();
  std::string subject = "分享给你";
  if (content && content->title)
    subject = *content->title;
  else if (config && config->title)
    subject = *config->title;
  composer->setSubject(subject);
  if (resource && resource->resourceType == 1 && resource->url) {
    body += "<br><img src='" + os::escapeMarkup(*resource->url) + "'>";
    composer->setMessageBody(body, true);
    return composer;
  }
  if (!imageBytes && image) imageBytes = os::encodeJPEG(*image, 0.9);
  // The bytes are JPEG: they are labelled so.
  if (imageBytes) composer->addAttachmentData(*imageBytes, "image/jpeg", "Image.jpg");
  composer->setMessageBody(body, true);
  return composer;
}

std::shared_ptr<os::MessageComposeViewController> OBSocialMailHandler::getEditSMSController(
    const std::shared_ptr<OBSocialControllerService>& service) {
  if (!os::MessageComposeViewController::canSendText()) return nullptr;
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  auto content = contentOf(data, false);
  auto shareText = content && content->shareText ? content->shareText : data->shareText();
  auto image = content && content->shareImage ? content->shareImage : data->shareImage();
  std::optional<std::string> imageURL;
  if (content && content->urlResource && content->urlResource->resourceType == 1 && content->urlResource->url)
    imageURL = content->urlResource->url;
  else if (auto own = data->urlResource(); own && own->resourceType == 1 && own->url)
    imageURL = own->url;
  auto composer = std::make_shared<MessageComposer>();
  composer->service = service;
  if (service) composer->caller = service->socialUIDelegate();
  composer->shareText = shareText;
  composer->setMessageComposeDelegate(shared_from_this());
  composer->setBody(shareText.value_or(""));
  if (!os::MessageComposeViewController::canSendAttachments()) return composer;
  std::optional<os::Data> bytes;
  if (content && content->shareImageData) bytes = content->shareImageData;
  if (!bytes && image) bytes = os::encodeJPEG(*image, 0.9);
  if (imageURL) {
    if (auto cached = OBImageLoader::sharedImageLoader()->imageForURL(*imageURL, {})) {
      bytes = os::encodeJPEG(*cached, 0.9);
    } else {
      os::Error error;
      bytes = os::URLConnection::sendSynchronousRequest(os::URLRequest(*imageURL), nullptr, &error);
    }
  }
  if (bytes && !bytes->empty()) composer->addAttachmentData(*bytes, "public.jpeg", "picture.jpg");
  return composer;
}

void OBSocialMailHandler::closeFromMessageOrMail(os::ViewController& composer) {
  auto service = socialControllerService(composer);
  auto navigation = service ? service->currentNavigationController.lock() : nullptr;
  if (navigation && navigation->presentingViewController())
    navigation->presentingViewController()->dismissViewController(true);
  else if (navigation && navigation->parentViewController())
    navigation->parentViewController()->dismissViewController(true);
  else
    composer.dismissViewController(true);
}

void OBSocialMailHandler::mailComposeControllerDidFinish(os::MailComposeViewController& controller,
                                                         os::MailComposeResult result, const os::Error* error) {
  int code = static_cast<int>(result);
  std::optional<std::string> text;
  if (result == os::MailComposeResult::Cancelled) {
    code = OBSocialResponseCodeCancelled;
    text = "user cancel the operation";
  } else if (result == os::MailComposeResult::Sent) {
    postOpWithText(shareText(controller), "email");
    code = OBSocialResponseCodeSuccess;
  }
  report("email", controller, code, text, error ? std::optional<os::Error>(*error) : std::nullopt);
}

void OBSocialMailHandler::messageComposeViewControllerDidFinish(os::MessageComposeViewController& controller,
                                                                os::MessageComposeResult result) {
  int code = static_cast<int>(result);
  std::optional<std::string> text;
  if (result == os::MessageComposeResult::Cancelled) {
    code = OBSocialResponseCodeCancelled;
    text = "user cancel the operation";
  } else if (result == os::MessageComposeResult::Sent) {
    postOpWithText(shareText(controller), "sms");
    code = OBSocialResponseCodeSuccess;
  }
  report("sms", controller, code, text, std::nullopt);
}

void OBSocialMailHandler::report(const std::string& name, os::ViewController& composer, int code,
                                 const std::optional<std::string>& text, const std::optional<os::Error>& error) {
  // The caller may let go of everything in its answer; the composer is held by its presenter
  // until the close below, and the service here until then.
  auto keep = std::static_pointer_cast<os::ViewController>(composer.shared_from_this());
  auto share = shareOf(composer);
  handleUIDelegate(share ? share->caller.lock() : nullptr, name, code, text, error);
  closeFromMessageOrMail(composer);
}
