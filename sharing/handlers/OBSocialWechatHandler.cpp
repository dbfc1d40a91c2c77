#include "sharing/handlers/OBSocialWechatHandler.h"

#include <algorithm>
#include <utility>

#include "foundation/ServiceCallLog.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/Bundle.h"
#include "platforms/wechat/WXMediaMessage.h"
#include "platforms/wechat/WXRequests.h"
#include "platforms/wechat/WXResponses.h"
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
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

// The messenger answers a share the user backed out of with -2.
constexpr int kMessengerUserCancelled = -2;

struct Messenger {
  const char* name;
  int type;
  int scene;
  const char* images;  // below the platform pictures of the resource bundle
};
const Messenger kMessengers[] = {{"wxsession", 15, WXSceneSession, "wechat_session"},
                                 {"wxtimeline", 16, WXSceneTimeline, "wechat_timeline"},
                                 {"wxfavorite", 17, WXSceneFavorite, "wechat_favorite"}};

// The icon sheet draws only platforms of the configured list. The handler shares to the session
// and the timeline (the dispatcher has no handler for favourites): those two join the front of
// the list once, however often the application sets the messenger up.
void listSharePlatforms() {
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  auto listed = registry->allSnsValuesArray();
  os::Array names = registry->allSnsArray();
  auto at = names.begin();
  bool changed = false;
  for (const char* name : {OBShareToWechatSession, OBShareToWechatTimeline}) {
    if (std::find(listed.begin(), listed.end(), name) != listed.end()) continue;
    at = names.insert(at, os::Value(name)) + 1;
    changed = true;
  }
  if (changed) OBSocialConfigInternal::shareInstance()->setSnsPlatformNames(std::move(names));
}

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
    const std::string images = std::string("OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_") + m.images;
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
    // A login asked of the platform takes the component's road, which signs in through here.
    OBSocialSnsPlatformManager::sharedInstance()->makeLoginHandlerWithPlatform(platform);
    platforms.push_back(platform);
  }
  if (!platforms.empty()) OBSocialConfig::addSocialSnsPlatform(platforms);
  listSharePlatforms();
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
  auto delegate = service ? service->socialUIDelegate() : nullptr;
  if (!WXApi::isWXAppInstalled() || !WXApi::isWXAppSupportApi()) {
    // Nothing to send to: the caller hears it at once.
    dispatcher->handleUIDelegate(delegate, name, OBSocialResponseCodeNetworkError,
                                 std::string("the messenger application is not installed"), std::nullopt);
    return;
  }
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  std::optional<std::string> text;
  auto request = shareRequest(data, name, text);
  // A share that never goes out leaves whatever waits for an answer as it was: the share the
  // messenger still owes an answer, its caller, and the dispatcher's wait for it.
  std::weak_ptr<OBSocialSnsHandlerDelegate> waiting = dispatcher->currentSnsHandler();
  dispatcher->setCurrentSnsHandler(weak_from_this());
  if (!WXApi::sendReq(request)) {
    dispatcher->setCurrentSnsHandler(waiting);
    dispatcher->handleUIDelegate(delegate, name, OBSocialResponseCodeNetworkError,
                                 std::string("the messenger application did not open"), std::nullopt);
    return;
  }
  // The messenger now holds this share: the one it held before will not be answered.
  answerReplacedShare();
  service_ = service;
  sharing_ = name;
  caller_ = delegate;
  shareText_ = std::move(text);
  awaitingShare_ = true;
}

void OBSocialWechatHandler::answerReplacedShare() {
  if (!std::exchange(awaitingShare_, false)) return;
  // The messenger holds one share at a time and answers the newest only. The replaced share's
  // service is held until its caller has been answered, as for an answer.
  auto service = std::exchange(service_, nullptr);
  OBSocialSnsHandler::shareInstance()->handleUIDelegate(caller_.lock(), sharing_, OBSocialResponseCodeCancelled,
                                                        std::string(kOBSocialReplacedShareMessage), std::nullopt);
}

std::shared_ptr<SendMessageToWXReq> OBSocialWechatHandler::shareRequest(const std::shared_ptr<OBSocialData>& data,
                                                                       const std::string& name,
                                                                       std::optional<std::string>& text) {
  auto config = data->extConfig();
  auto content = config ? config->getSnsData(name) : nullptr;
  text = content && content->shareText ? content->shareText : data->shareText();
  auto request = std::make_shared<SendMessageToWXReq>();
  for (const auto& m : kMessengers)
    if (name == m.name) request->setScene(m.scene);
  // The platform's own type first, then the extra content's.
  std::int32_t type = content && content->wxMessageType != OBSocialWXMessageTypeNone ? content->wxMessageType
                      : config                                                       ? config->wxMessageType
                                                                                     : OBSocialWXMessageTypeNone;
  if (type == OBSocialWXMessageTypeText) {
    request->setBText(true);
    request->setText(text);
    return request;
  }
  auto image = content && content->shareImage ? content->shareImage : data->shareImage();
  if (!image && content && content->shareImageData) image = os::decodeImage(*content->shareImageData);
  auto message = WXMediaMessage::message();
  std::optional<std::string> title = content && content->title ? content->title : (config ? config->title : std::nullopt);
  message->setTitle(title ? title : text);
  message->setDescription(text);
  if (image) message->setThumbImage(OBSocialSnsHandler::scaleImage(image, os::Size{150, 150}));
  const std::optional<std::string> link = content && content->url ? content->url : url;
  const std::optional<os::Data> file = content ? content->fileData : std::nullopt;

  std::shared_ptr<WXMediaObject> object;
  if (config && config->wxMediaObject && (type == OBSocialWXMessageTypeOther || type == OBSocialWXMessageTypeNone)) {
    object = config->wxMediaObject;
  } else if (type == OBSocialWXMessageTypeImage) {
    auto picture = WXImageObject::object();
    picture->setImageData(file ? file : (image ? os::encodeJPEG(*image, 0.8) : std::nullopt));
    object = picture;
  } else if (type == OBSocialWXMessageTypeApp) {
    auto extend = WXAppExtendObject::object();
    extend->setExtInfo(content ? content->extInfo : std::nullopt);
    extend->setFileData(file);
    extend->setUrl(link);
    object = extend;
  } else {
    auto page = WXWebpageObject::object();
    page->setWebpageUrl(link);
    object = page;
  }
  message->setMediaObject(object);
  request->setBText(false);
  request->setMessage(message);
  return request;
}

void OBSocialWechatHandler::loginWithController(const std::shared_ptr<os::ViewController>&, OBSocialCompletion completion,
                                                const std::string& platformName) {
  OBSocialOpAnalytics::postSocialAnalytics("4", std::nullopt, platformName);
  auto request = std::make_shared<SendAuthReq>();
  request->setScope(std::string(kOBSocialWechatLoginScope));
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  std::weak_ptr<OBSocialSnsHandlerDelegate> waiting = dispatcher->currentSnsHandler();
  dispatcher->setCurrentSnsHandler(weak_from_this());
  if (!WXApi::sendReq(request)) {
    // A share or a login still waiting keeps its wait for the messenger's answer.
    dispatcher->setCurrentSnsHandler(waiting);
    if (!completion) return;
    auto failed =
        OBSocialResponseEntity::failure(OBSocialResponseCodeNetworkError, "the messenger application did not open", 9);
    failed->viewControllerType = 7;
    completion(failed);
    return;
  }
  // The messenger answers the newest login only: one still waiting ends as cancelled, told last,
  // as its caller may start another login from its answer.
  auto replaced = std::exchange(loginCompletion_, std::move(completion));
  const std::string replacedName = std::exchange(loginName_, platformName).value_or(OBShareToWechatSession);
  if (!replaced) return;
  auto cancelled = OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, kOBSocialReplacedLoginMessage, 9);
  cancelled->viewControllerType = 7;
  cancelled->data = os::Dictionary{{replacedName, os::Value("")}};
  replaced(cancelled);
}

void OBSocialWechatHandler::keepWaiting() {
  // One answer per wait at the dispatcher: a share or a login still owed an answer waits on.
  if (awaitingShare_ || loginCompletion_) OBSocialSnsHandler::shareInstance()->setCurrentSnsHandler(weak_from_this());
}

void OBSocialWechatHandler::finishLogin(const std::shared_ptr<OBSocialResponseEntity>& response) {
  auto done = std::move(loginCompletion_);
  loginCompletion_ = nullptr;
  if (!done) return;
  response->viewControllerType = 7;
  response->responseType = 9;
  done(response);
}

bool OBSocialWechatHandler::handleOpenURL(const os::URL& answer) {
  const bool sharing = awaitingShare_, loggingIn = static_cast<bool>(loginCompletion_);
  const bool taken = WXApi::handleOpenURL(answer, this);
  // A record that answers neither (a request of the messenger's, a kind this reader doesn't
  // know) leaves what is owed an answer waiting for it. An answer given has set the wait
  // already, before its caller could start something else.
  if (sharing == awaitingShare_ && loggingIn == static_cast<bool>(loginCompletion_)) keepWaiting();
  return taken;
}

void OBSocialWechatHandler::onResp(const std::shared_ptr<BaseResp>& response) {
  if (auto auth = std::dynamic_pointer_cast<SendAuthResp>(response)) {
    // The messenger's code passes on as it came: only 0 with an authorisation code is a login.
    auto result = std::make_shared<OBSocialResponseEntity>();
    const std::string name = loginName_.value_or(OBShareToWechatSession);
    if (auth->errCode() == WXSuccess && auth->code() && !auth->code()->empty()) {
      result->responseCode = OBSocialResponseCodeSuccess;
      result->message = "no error";
      os::Dictionary entry{{"code", os::Value(*auth->code())}};
      if (auth->state()) entry.set("state", os::Value(*auth->state()));
      result->data = os::Dictionary{{name, os::Value(std::move(entry))}};
    } else {
      result->responseCode = auth->errCode() == kMessengerUserCancelled ? OBSocialResponseCodeCancelled
                             : auth->errCode() == WXSuccess             ? WXErrCodeCommon
                                                                        : auth->errCode();
      result->message = auth->errCode() == kMessengerUserCancelled ? std::optional<std::string>(kOBSocialCancelMessage)
                                                                    : auth->errStr();
      result->data = os::Dictionary{{name, os::Value("")}};
    }
    finishLogin(result);
    keepWaiting();
    return;
  }
  // A share answer when no share waits (it was answered as replaced) is nobody's.
  if (!std::dynamic_pointer_cast<SendMessageToWXResp>(response) || !awaitingShare_) return keepWaiting();
  awaitingShare_ = false;
  int code = response->errCode();
  std::optional<std::string> message = response->errStr();
  if (code == WXSuccess) {
    OBSocialSnsHandler::shareInstance()->postOpWithText(shareText_, sharing_);
    OBSocialXToast::makeText(localized("shareEdit_post_finish"))->show();
    code = OBSocialResponseCodeSuccess;
  } else if (code == kMessengerUserCancelled) {
    code = OBSocialResponseCodeCancelled;
    message = kOBSocialCancelMessage;
  }
  // Held until the answer has been given: whoever asked for the share may have let go of it.
  auto service = std::exchange(service_, nullptr);
  keepWaiting();
  OBSocialSnsHandler::shareInstance()->handleUIDelegate(caller_.lock(), sharing_, code, message, std::nullopt);
}
