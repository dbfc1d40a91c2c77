#include "sharing/handlers/OBSocialWechatHandler.h"

#include "foundation/ServiceCallLog.h"
#include "os/graphics/Image.h"
#include "platforms/wechat/WXMediaMessage.h"
#include "platforms/wechat/WXRequests.h"
#include "platforms/wechat/WXResponses.h"
#include "os/store/Bundle.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"

namespace {

// The messenger answers a share the user backed out of with -2.
constexpr int kMessengerUserCancelled = -2;

struct Messenger {
  const char* name;
  int type;
  int scene;
};
const Messenger kMessengers[] = {{"wxsession", 15, WXSceneSession}, {"wxtimeline", 16, WXSceneTimeline},
                                 {"wxfavorite", 17, WXSceneFavorite}};

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

}  // namespace

std::shared_ptr<OBSocialWechatHandler> OBSocialWechatHandler::shareInstance() {
  return OBSocialContext::shared<OBSocialWechatHandler>();
}

void OBSocialWechatHandler::setWXAppId(const std::string& appId, const std::string& appSecret,
                                       const std::optional<std::string>& url) {
  ServiceCallLog::record("OBSocialWechatHandler", "setWXAppId",
                         os::Dictionary{{"appId", os::Value(appId)},
                                        {"appSecret", os::Value(appSecret)},
                                        {"url", ServiceCallLog::optional(url)}});
  auto handler = shareInstance();
  handler->appId = appId;
  handler->appSecret = appSecret;
  handler->url = url.value_or(kOBSocialWechatDefaultURL);
  WXApi::registerApp(appId);
  OBSocialOpAnalytics::postSocialAnalytics("45");
  // The service keeps the messenger identity with the application's platform information.
  auto stored = OBSocialSnsHandler::shareInstance()->appInfo()["wxsession"];
  if (stored["key"].stringOr() != appId || stored["secret"].stringOr() != appSecret)
    OBSocialAccountManager::postAppInfo(os::Dictionary{{"wx_key", os::Value(appId)}, {"wx_secret", os::Value(appSecret)}},
                                        nullptr);
  std::vector<std::shared_ptr<OBSocialSnsPlatform>> platforms;
  for (const auto& m : kMessengers) {
    auto registered = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(m.name, false);
    if (registered) {
      registered->platformInternal()->socialLoginDelegate = handler;
      continue;
    }
    auto platform = std::make_shared<OBSocialSnsPlatform>(m.name);
    platform->shareToType = m.type;
    platform->displayName = localized(m.name);
    const std::string images = std::string("OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_") + m.name;
    platform->bigImageName = images + "_icon";
    platform->smallImageName = images + "_on";
    platform->smallImageOffName = images + "_off";
    const std::string name = m.name;
    platform->snsClickHandler = [name](const std::shared_ptr<os::ViewController>& controller,
                                       const std::shared_ptr<OBSocialControllerService>& service, bool) {
      OBSocialSnsHandler::shareInstance()->postOpWithSnsName(name);
      OBSocialWechatHandler::shareInstance()->clickHandlerWithSnsName(name, controller, service);
    };
    platform->platformInternal()->socialLoginDelegate = handler;
    platforms.push_back(platform);
  }
  if (!platforms.empty()) OBSocialConfig::addSocialSnsPlatform(platforms);
  OBSocialSnsHandler::shareInstance()->registerSnsHandler({"wxsession", "wxtimeline"}, handler);
}

bool OBSocialWechatHandler::isClientInstall(const std::string&) { return WXApi::isWXAppInstalled(); }

bool OBSocialWechatHandler::checkUrlSchema() {
  return appId && OBSocialSnsHandler::shareInstance()->searchForURLSchemeWithPrefix(*appId);
}

void OBSocialWechatHandler::clickHandlerWithSnsName(const std::string& name, const std::shared_ptr<os::ViewController>&,
                                                    const std::shared_ptr<OBSocialControllerService>& service) {
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  dispatcher->handleClickHandler(service, name);
  service_ = service;
  sharing_ = name;
  auto delegate = service ? service->socialUIDelegate() : nullptr;
  if (!WXApi::isWXAppInstalled() || !WXApi::isWXAppSupportApi()) {
    // Nothing to send to: the caller hears it at once.
    dispatcher->handleUIDelegate(delegate, name, OBSocialResponseCodeNetworkError,
                                 std::string("the messenger application is not installed"), std::nullopt);
    return;
  }
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  auto config = data->extConfig();
  auto content = config ? config->getSnsData(name) : nullptr;
  shareText_ = content && content->shareText ? content->shareText : data->shareText();
  auto image = content && content->shareImage ? content->shareImage : data->shareImage();
  auto message = WXMediaMessage::message();
  std::optional<std::string> title = content && content->title ? content->title : (config ? config->title : std::nullopt);
  message->setTitle(title ? title : shareText_);
  message->setDescription(shareText_);
  if (image) message->setThumbImage(OBSocialSnsHandler::scaleImage(image, os::Size{150, 150}));
  auto page = WXWebpageObject::object();
  page->setWebpageUrl(content && content->url ? content->url : url);
  message->setMediaObject(page);
  auto request = std::make_shared<SendMessageToWXReq>();
  request->setBText(false);
  request->setMessage(message);
  for (const auto& m : kMessengers)
    if (name == m.name) request->setScene(m.scene);
  dispatcher->setCurrentSnsHandler(weak_from_this());
  if (!WXApi::sendReq(request)) {
    dispatcher->setCurrentSnsHandler({});
    dispatcher->handleUIDelegate(delegate, name, OBSocialResponseCodeNetworkError,
                                 std::string("the messenger application did not open"), std::nullopt);
  }
}

bool OBSocialWechatHandler::handleOpenURL(const os::URL& answer) { return WXApi::handleOpenURL(answer, this); }

void OBSocialWechatHandler::onResp(const std::shared_ptr<BaseResp>& response) {
  if (!std::dynamic_pointer_cast<SendMessageToWXResp>(response)) return;
  int code = response->errCode();
  std::optional<std::string> message = response->errStr();
  if (code == WXSuccess) {
    OBSocialSnsHandler::shareInstance()->postOpWithText(shareText_, sharing_);
    code = OBSocialResponseCodeSuccess;
  } else if (code == kMessengerUserCancelled) {
    code = OBSocialResponseCodeCancelled;
    message = "user cancel the operation";
  }
  auto service = service_.lock();
  OBSocialSnsHandler::shareInstance()->handleUIDelegate(service ? service->socialUIDelegate() : nullptr, sharing_, code,
                                                        message, std::nullopt);
}
