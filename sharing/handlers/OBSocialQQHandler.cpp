#include "sharing/handlers/OBSocialQQHandler.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "foundation/ServiceCallLog.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/Bundle.h"
#include "os/views/AlertView.h"
#include "os/views/NamedImage.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

// The QQ application's answer when the reader backed out of a share.
constexpr int kQQUserCancelled = -4;
// "qq" goes in at this place of the configured list, or before the last name of a shorter one.
constexpr std::size_t kQQListPosition = 6;

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

void showAlert(const std::string& messageKey) {
  auto alert = std::make_shared<os::AlertView>(localized("shareQQ_error"), localized(messageKey),
                                               std::weak_ptr<os::AlertViewDelegate>{}, localized("button_ok"));
  alert->show();
}

// The whole text must be a decimal integer: QQ answers a result code, nothing else counts.
std::optional<int> strictInteger(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  int value = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// Cut to `bytes` of UTF-8 (whole characters) when it has `characters` or more.
std::string cut(const std::string& text, std::size_t characters, std::size_t bytes, const char* message) {
  if (os::utf16Length(text) < characters) return text;
  OBUtils::outLog(message);
  return OBSocialSnsHandler::subString(text, os::StringEncoding::UTF8, bytes).value_or("");
}

std::shared_ptr<OBSocialResponseEntity> loginFailure(int code, std::string message) {
  auto response = std::make_shared<OBSocialResponseEntity>();
  // The key is "qzone" whichever platform logged in: callers look it up there.
  response->data = os::Dictionary{{"qzone", os::Value("")}};
  response->responseType = 9;
  response->viewControllerType = 7;
  response->responseCode = code;
  response->message = std::move(message);
  return response;
}

}  // namespace

std::shared_ptr<OBSocialQQHandler> OBSocialQQHandler::shareInstance() { return OBSocialContext::shared<OBSocialQQHandler>(); }

const std::vector<std::string>& OBSocialQQHandler::permissions() {
  static const std::vector<std::string> kPermissions = {
      "get_user_info", "get_simple_userinfo", "add_album", "add_idol", "add_one_blog", "add_pic_t",
      "add_share", "add_topic", "check_page_fans", "del_idol", "del_t", "get_fanslist",
      "get_idollist", "get_info", "get_other_info", "get_repost_list", "list_album", "upload_pic",
      "get_vip_info", "get_vip_rich_info", "get_intimate_friends_weibo", "match_nick_tips_weibo"};
  return kPermissions;
}

void OBSocialQQHandler::setQQWithAppId(const std::optional<std::string>& appId, const std::optional<std::string>& appKey,
                                       const std::optional<std::string>& url) {
  ServiceCallLog::record("OBSocialQQHandler", "setQQWithAppId",
                         os::Dictionary{{"appId", ServiceCallLog::optional(appId)},
                                        {"appKey", ServiceCallLog::optional(appKey)},
                                        {"url", ServiceCallLog::optional(url)}});
  auto handler = shareInstance();
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  auto platform = handler->getQQPlatform();
  handler->qqUrl = url;
  handler->qqAppKey = appKey;
  if (appId) {
    handler->qqAppId = appId;
    const os::Value entry = dispatcher->appInfo()["qzone"];
    if (entry.isDictionary()) {
      handler->compareAppInfo(entry);
    } else {
      std::weak_ptr<OBSocialQQHandler> weak = handler;
      dispatcher->requestAppInfo([weak](const std::shared_ptr<OBSocialResponseEntity>& response) {
        auto self = weak.lock();
        if (!self || response->responseCode != OBSocialResponseCodeSuccess) return;
        self->compareAppInfo(response->data ? (*response->data)["qzone"] : os::Value());
      });
    }
  } else {
    handler->qqAppId = handler->qzoneAppId();
  }
  OBSocialConfig::addSocialSnsPlatform({platform});

  // Once in the list, however often the application sets QQ up; an empty list still gets it.
  auto names = OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray();
  if (std::find(names.begin(), names.end(), OBShareToQQ) == names.end()) {
    const std::size_t at = names.size() >= kQQListPosition ? kQQListPosition : (names.empty() ? 0 : names.size() - 1);
    names.insert(names.begin() + static_cast<std::ptrdiff_t>(at), OBShareToQQ);
    os::Array stored;
    for (const auto& name : names) stored.emplace_back(name);
    OBSocialConfig::setSnsPlatformNames(std::move(stored));
  }

  handler->shareToQzoneWithAppId(appId, url);
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  for (const char* name : {OBShareToQzone, OBShareToQQ})
    if (auto registered = registry->getSnsPlatformWithName(name, false))
      registered->platformInternal()->socialLoginDelegate = handler;
  dispatcher->registerSnsHandler({OBShareToQQ}, handler);
}

void OBSocialQQHandler::compareAppInfo(const os::Value& entry) {
  // The service keeps the QZone identity with the application's platform information.
  if (entry["key"].string() && *entry["key"].string() == qqAppId.value_or("") && entry["secret"].string() &&
      *entry["secret"].string() == qqAppKey.value_or(""))
    return;
  OBSocialAccountManager::postAppInfo(os::Dictionary{{"qzone_key", os::Value(qqAppId.value_or(""))},
                                                     {"qzone_secret", os::Value(qqAppKey.value_or(""))}},
                                      nullptr);
}

void OBSocialQQHandler::setSupportWebView(bool on) { shareInstance()->supportQzoneWebView = on; }

void OBSocialQQHandler::setSupportQzoneSSO(bool on) { OBSocialConfigInternal::shareInstance()->supportQzoneSSO = on; }

std::shared_ptr<OBSocialSnsPlatform> OBSocialQQHandler::getQQPlatform() {
  auto platform = std::make_shared<OBSocialSnsPlatform>(OBShareToQQ);
  const std::string images = "OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_qq";
  platform->bigImageName = images + "_icon";
  platform->smallImageName = images + "_on";
  platform->smallImageOffName = images + "_off";
  platform->displayName = localized("mobile_qq");
  platform->shareToType = 20;
  platform->snsClickHandler = [](const std::shared_ptr<os::ViewController>& controller,
                                 const std::shared_ptr<OBSocialControllerService>& service, bool) {
    OBSocialSnsHandler::shareInstance()->postOpWithSnsName(OBShareToQQ);
    OBSocialQQHandler::shareInstance()->clickHandlerWithSnsName(OBShareToQQ, controller, service);
  };
  OBSocialSnsPlatformManager::sharedInstance()->makeLoginHandlerWithPlatform(platform);
  return platform;
}

void OBSocialQQHandler::shareToQzoneWithAppId(const std::optional<std::string>&, const std::optional<std::string>&) {
  auto qzone = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(OBShareToQzone, false);
  if (!qzone) return;
  qzone->snsClickHandler = [](const std::shared_ptr<os::ViewController>& controller,
                              const std::shared_ptr<OBSocialControllerService>& service, bool) {
    OBSocialSnsHandler::shareInstance()->postOpWithSnsName(OBShareToQzone);
    OBSocialQQHandler::shareInstance()->clickHandlerWithSnsName(OBShareToQzone, controller, service);
  };
}

std::optional<std::string> OBSocialQQHandler::qzoneAppId() {
  const os::Value entry = OBSocialSnsHandler::shareInstance()->appInfo()["qzone"];
  if (!entry.isDictionary()) return std::nullopt;
  if (auto key = entry["key"].string()) return *key;
  return std::nullopt;
}

bool OBSocialQQHandler::isClientInstall(const std::string& platformName) {
  if (platformName != OBShareToQzone || !supportQzoneWebView) return true;
  if (VelmoraOAuth::iphoneQQInstalled() && VelmoraOAuth::iphoneQQSupportSSOLogin()) return true;
  return VelmoraOAuth::iphoneQZoneInstalled() && VelmoraOAuth::iphoneQZoneSupportSSOLogin();
}

bool OBSocialQQHandler::checkUrlSchema() {
  return OBSocialSnsHandler::shareInstance()->searchForURLSchemeWithPrefix("velmora");
}

bool OBSocialQQHandler::handleOpenURL(const os::URL& url) {
  const std::string text = url.absoluteString();
  bool taken = false;
  if (text.rfind("velmora", 0) == 0) {
    taken = VelmoraOAuth::HandleOpenURL(text);
    // Without QQ on the device a link share goes to QQ's share page, which answers through this
    // same scheme: what QQ Connect does not take may be that page's answer to the share.
    if (!taken) taken = QQApiInterface::handleOpenURL(text, this);
  } else if (text.rfind("QQ", 0) == 0)
    taken = QQApiInterface::handleOpenURL(text, this);
  // One answer per wait at the dispatcher: a share or a login still owed an answer waits on.
  if (awaitingShare_ || completion_) OBSocialSnsHandler::shareInstance()->setCurrentSnsHandler(weak_from_this());
  return taken;
}

void OBSocialQQHandler::clickHandlerWithSnsName(const std::string& name, const std::shared_ptr<os::ViewController>&,
                                                const std::shared_ptr<OBSocialControllerService>& service) {
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  auto data = service ? service->socialData() : OBSocialData::defaultData();
  // A share that stops before QQ has it gets no answer from QQ: its caller hears here, once.
  auto notSent = [&](const char* why) {
    dispatcher->handleUIDelegate(service ? service->socialUIDelegate() : nullptr, name, OBSocialResponseCodeNotSent,
                                 std::string(why), std::nullopt);
  };
  if (!qqUrl && data->shareImage()) {
    OBUtils::outLog("使用手机QQ图文分享，请先设置应用url");
    return notSent("a picture shared to QQ needs the application's link");
  }
  if (!dispatcher->searchForURLSchemeWithPrefix("QQ")) return notSent("the application takes no answers from QQ");
  // A share that never goes out leaves whatever waits for an answer as it was: the share QQ still
  // owes an answer, its caller, and the dispatcher's wait for it.
  std::weak_ptr<OBSocialSnsHandlerDelegate> waiting = dispatcher->currentSnsHandler();
  dispatcher->setCurrentSnsHandler(weak_from_this());
  if ((!QQApiInterface::isQQInstalled() || !QQApiInterface::isQQSupportApi()) && name != OBShareToQQ) {
    // For "qq" the send goes ahead and its result brings the alert.
    dispatcher->setCurrentSnsHandler(waiting);
    notSent("the QQ application is not installed");
    showAlert("shareQQ_notInstall");
    return;
  }
  if (!qqAppId) OBUtils::outLog("you must set the qqAppID!");
  // Making the session registers the application id with the QQ client. A login still waiting
  // keeps its session, which has registered it already: QQ's answer fills that session.
  if (!completion_ || !velmoraQQ)
    velmoraQQ = VelmoraOAuth::initWithAppId(qqAppId.value_or(""), weak_from_this(), endpoints);
  dispatcher->handleClickHandler(service, name);
  auto caller = service ? service->socialUIDelegate() : nullptr;

  auto config = data->extConfig();
  auto content = config ? (name == OBShareToQzone ? config->qzoneData : config->qqData) : nullptr;
  std::string description = content && content->shareText ? *content->shareText : data->shareText().value_or("");
  std::string title = content && content->title  ? *content->title
                      : config && config->title ? *config->title
                                                : description;
  title = cut(title, kOBSocialQQTitleCharacters + 1, kOBSocialQQTitleCharacters - 1,
              "使用手机QQ客户端分享，分享标题不能超过128个字符");
  description = cut(description, kOBSocialQQDescriptionCharacters + 1, kOBSocialQQDescriptionCharacters - 1,
                    "使用手机QQ客户端分享，分享内容不能超过512个字符");
  auto resource = content && content->urlResource && content->urlResource->resourceType != 0 ? content->urlResource
                                                                                              : data->urlResource();
  const int resourceType = resource ? resource->resourceType : 0;
  auto image = OBSocialSnsHandler::getShareImage(data, name);
  if (!image && content && content->shareImageData) image = os::decodeImage(*content->shareImageData);
  const std::optional<std::string> link = content && content->url ? content->url : qqUrl;
  auto thumbnail = OBSocialSnsHandler::scaleAndComplessImage(image, os::Size{150, 150});
  if (name == OBShareToQzone && !image) {
    image = os::imageNamed("icon");
    OBUtils::outLog("分享到QQ空间必须设置图片+文字消息");
  }

  std::shared_ptr<QQApiObject> object;
  if (content && content->qqMessageType == 1 && image) {
    std::optional<os::Data> jpeg = os::encodeJPEG(*image, 0.8);
    object = QQApiImageObject::objectWithData(jpeg, thumbnail, title, description);
  } else if (resourceType == OBSocialUrlResourceTypeDefault && image) {
    object = QQApiNewsObject::objectWithURL(link, title, description, thumbnail);
  } else if (resourceType == OBSocialUrlResourceTypeImage) {
    object = QQApiNewsObject::objectWithURLAndPreviewImageURL(link, title, description, resource->url);
  } else if (resourceType == OBSocialUrlResourceTypeMusic) {
    object = QQApiAudioObject::objectWithURL(resource->url, title, description, thumbnail);
  } else if (resourceType == OBSocialUrlResourceTypeVideo) {
    object = QQApiVideoObject::objectWithURL(resource->url, title, description, thumbnail);
  } else {
    object = QQApiTextObject::objectWithText(description);
  }
  auto request = SendMessageToQQReq::reqWithContent(object);
  auto later = std::make_shared<QQApiLaterSend>();
  std::weak_ptr<OBSocialQQHandler> weak = weak_from_this();
  std::weak_ptr<QQApiLaterSend> weakLater = later;
  later->done = [weak, weakLater](std::int32_t code) {
    auto self = weak.lock();
    auto send = weakLater.lock();
    if (self && send) self->laterSendEnded(send, code);
  };
  request->laterSend = later;
  std::int32_t sent = EQQAPISENDFAILD;
  if (name == OBShareToQQ)
    sent = QQApiInterface::sendReq(request);
  else if (name == OBShareToQzone)
    sent = QQApiInterface::SendReqToQZone(request);
  if (sent == EQQAPISENDSUCESS || sent == EQQAPIMESSAGEPREVIEWLOADING) {
    // QQ now holds this share: the one it held before will not be answered.
    answerReplacedShare();
    snsName = name;
    socialController = service;
    socialCaller = caller;
    awaitingShare_ = name;
    if (sent == EQQAPIMESSAGEPREVIEWLOADING) laterSend_ = std::move(later);
    return;
  }
  dispatcher->setCurrentSnsHandler(waiting);
  // Neither platform of this handler: nothing was asked of QQ.
  if (name != OBShareToQQ && name != OBShareToQzone) return;
  // QQ never opened: no answer will come for this share.
  notSent("the QQ application did not open");
  showAlert("shareQQ_openFail");
}

void OBSocialQQHandler::onResp(const std::shared_ptr<QQBaseResp>& response) {
  // A second answer to a share, or one to a share of an earlier run, is nobody's: its caller
  // has heard already, and nothing was shared in this run.
  if (!awaitingShare_) return;
  // The awaited share has not reached QQ yet (its picture is still being fetched): the answer is
  // to an earlier share, whose caller has heard.
  if (laterSend_) return;
  auto code = response ? strictInteger(response->result) : std::nullopt;
  if (!code) {
    // An answer without a result code says nothing about the share: dropped, and the share
    // waits on for QQ's next answer or the share that replaces it.
    OBUtils::outLog("share to qq delegate fail!");
    return;
  }
  // The share QQ answers, though a login may have come between: no later share replaces it.
  const std::string name = *std::exchange(awaitingShare_, std::nullopt);
  laterSend_.reset();
  if (*code == kQQUserCancelled) {
    *code = OBSocialResponseCodeCancelled;
  } else if (*code == 0) {
    auto data = socialController ? socialController->socialData() : OBSocialData::defaultData();
    OBSocialSnsHandler::shareInstance()->postOpWithText(data->shareText(), name);
    OBSocialXToast::makeText(localized("shareEdit_post_finish"))->show();
    *code = OBSocialResponseCodeSuccess;
  }
  OBSocialSnsHandler::shareInstance()->handleUIDelegate(socialCaller.lock(), name, *code, std::nullopt, std::nullopt);
}

void OBSocialQQHandler::laterSendEnded(const std::shared_ptr<QQApiLaterSend>& send, std::int32_t code) {
  // Opened: QQ's own answer ends the share. The send of a share already ended is nobody's.
  if (code == EQQAPISENDSUCESS || send != laterSend_ || !awaitingShare_) {
    if (send == laterSend_) laterSend_.reset();
    return;
  }
  laterSend_.reset();
  const std::string name = *std::exchange(awaitingShare_, std::nullopt);
  // Nothing of this handler waits now: the dispatcher's wait for it ends with the share.
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  if (!completion_ && dispatcher->currentSnsHandler().get() == this) dispatcher->setCurrentSnsHandler({});
  dispatcher->handleUIDelegate(socialCaller.lock(), name, OBSocialResponseCodeNotSent,
                               std::string("the QQ application did not open"), std::nullopt);
  showAlert("shareQQ_openFail");
}

void OBSocialQQHandler::answerReplacedShare() {
  // A replaced share still waiting on its preview picture is not sent: its caller hears below
  // that it ended, and QQ would take its answer to it for the newer share's.
  if (auto later = std::exchange(laterSend_, nullptr)) later->withdrawn = true;
  auto replaced = std::exchange(awaitingShare_, std::nullopt);
  if (!replaced) return;
  // QQ holds one share at a time and answers the newest only.
  OBSocialSnsHandler::shareInstance()->handleUIDelegate(socialCaller.lock(), *replaced, OBSocialResponseCodeCancelled,
                                                        std::string(kOBSocialReplacedShareMessage), std::nullopt);
}

void OBSocialQQHandler::loginWithController(const std::shared_ptr<os::ViewController>&, OBSocialCompletion completion,
                                            const std::string& platformName) {
  // QQ and the login page answer the newest login only: a login still waiting ends as cancelled,
  // told last, as its caller may start another login from its answer. Its session's late word
  // is nobody's.
  auto replaced = takeCompletion();
  if (replaced && velmoraQQ) velmoraQQ->setSessionDelegate({});
  completion_ = std::move(completion);
  snsName = platformName;
  const std::uint64_t serial = ++loginSerial_;
  auto session = VelmoraOAuth::initWithAppId(qqAppId.value_or(""), weak_from_this(), endpoints);
  velmoraQQ = session;
  // A login QQ Connect cannot start for want of a usable id or of the id's answering scheme gets
  // a configuration alert and no answer: its caller hears here that it ended. No network has been
  // answered already, and a login its caller started from that answer is not this one.
  OBSocialCompletion notStarted;
  if (!session->authorize(permissions(), qqAppId, false) && serial == loginSerial_) notStarted = takeCompletion();
  if (replaced) replaced(loginFailure(OBSocialResponseCodeCancelled, kOBSocialReplacedLoginMessage));
  if (notStarted) notStarted(loginFailure(OBSocialResponseCodeCancelled, "the QQ login could not start"));
}

void OBSocialQQHandler::logOut() {
  if (velmoraQQ) velmoraQQ->logout(shared_from_this());
}

OBSocialCompletion OBSocialQQHandler::takeCompletion() {
  OBSocialCompletion taken = std::move(completion_);
  completion_ = nullptr;
  return taken;
}

void OBSocialQQHandler::velmoraDidLogin() {
  auto session = velmoraQQ;
  if (!session) return;
  // A login without a token (the reader logged out meanwhile) is no login: no account goes up.
  if (!session->accessToken() || session->accessToken()->empty()) return velmoraDidNotLogin(false);
  auto account = std::make_shared<OBSocialAccountEntity>(snsName.value_or(OBShareToQQ));
  account->usid = session->openId();
  account->accessToken = session->accessToken();
  account->openId = session->openId();
  account->expirationDate = session->expirationDate();
  // A later login of the same session (a renewal, another road) must not end this one again.
  OBSocialSnsHandler::shareInstance()->upLoadSnsAccount(account, takeCompletion());
}

void OBSocialQQHandler::velmoraDidNotLogin(bool) {
  if (auto completion = takeCompletion()) completion(loginFailure(OBSocialResponseCodeCancelled, kOBSocialCancelMessage));
}

void OBSocialQQHandler::velmoraDidNotNetWork() {
  OBUtils::outLog("velmoraDidNotNetWork!");
  // The caller waits for the login's end: no network ends it too.
  if (auto completion = takeCompletion())
    completion(loginFailure(OBSocialResponseCodeNetworkError, kOBSocialNetworkErrorMessage));
}
