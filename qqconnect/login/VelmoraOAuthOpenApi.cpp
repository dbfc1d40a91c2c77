// The OpenAPI operations of the session: graph calls, cancellation, QZone commands and more
// permissions.
#include <cstdio>

#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "qqconnect_core/login/TCOpenSDKErrorUtil.h"
#include "qqconnect/login/OpenApi.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "os/core/Log.h"
#include "os/core/URL.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "qqconnect_core/requests/URLTools.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/Clock.h"
#include "os/runtime/Timer.h"
#include "os/core/String.h"
#include "os/views/AlertView.h"

namespace {

std::string orNull(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
std::string trimmed(const std::optional<std::string>& s) { return os::trimWhitespace(s.value_or("")); }

void parameterAlert(const char* title, const char* message) {
  auto alert = std::make_shared<os::AlertView>(title, message, std::weak_ptr<os::AlertViewDelegate>{}, std::string("OK"));
  alert->show();
}

std::string htmlUnescaped(std::string text) {
  auto replace = [&](const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  };
  replace("\\n", "\n");
  replace("&#92;", "\\");
  replace("&#39;", "'");
  replace("&quot;", "\"");
  replace("&lt;", "<");
  replace("&gt;", ">");
  return text;
}

// A web dialog's answer: success (return code 0), cancelled (1) or failed (0), with its code.
std::shared_ptr<APIResponse> dialogResponse(int code) {
  auto response = TCOpenSDKErrorUtil::apiResponseFromErrorCode(code);
  response->setRetCode(code == kTCOpenSDKErrorUserCancel ? 1 : 0);
  if (code == kTCOpenSDKErrorSuccess) response->setDetailRetCode(0);
  return response;
}

}  // namespace

// The login delegate of a request for more permissions: its outcome becomes an update of the
// session.
class VelmoraIncrAuthLogic : public VelmoraLoginDelegate {
 public:
  VelmoraIncrAuthLogic(std::weak_ptr<VelmoraOAuth> session, std::optional<std::string> reportAction)
      : session_(std::move(session)), reportAction_(std::move(reportAction)) {}
  void setReportAction(std::optional<std::string> action) override { reportAction_ = std::move(action); }
  void velmoraDidLogin() override {
    auto s = session_.lock();
    if (!s) return;
    if (reportAction_) TCDataReport::shared().reportData(0, *reportAction_, s->appId().value_or(""), std::nullopt);
    s->velmoraDidUpdate(*s);
  }
  void velmoraDidNotLogin(bool cancelled) override {
    if (auto s = session_.lock()) s->velmoraFailedUpdate(cancelled ? 2 : 1);
  }
  void velmoraDidNotNetWork() override {
    if (auto s = session_.lock()) s->velmoraFailedUpdate(3);
  }

 private:
  std::weak_ptr<VelmoraOAuth> session_;
  std::optional<std::string> reportAction_;
};

std::optional<std::string> VelmoraOAuth::localEncrytedToken() const {
  return VelmoraApiUtil::md5("wirnoln&pqe&bravu***58273%%" + orNull(accessToken_) + orNull(appId_) + orNull(openId_) +
                             "vexil7.2");
}

bool VelmoraOAuth::graphCall(const std::string& path, const char* method, VelmoraParams params, DelegateAnswer answer,
                             GraphCallOptions options) {
  if (!canCall()) return false;
  auto api = APIBase::initWithTarget(
      weak_from_this(),
      [answer, mapErrors = options.mapErrors](APIBaseTarget& target, const std::shared_ptr<APIResponse>& response) {
        auto& session = static_cast<VelmoraOAuth&>(target);
        auto keep = session.shared_from_this();
        session.deleteAPIRequestBySeq(std::to_string(response->seq()));
        if (mapErrors && response->retCode() == 0) TCOpenSDKErrorUtil::apiResponseConvert(*response);
        if (auto delegate = session.sessionDelegate()) ((*delegate).*answer)(response);
      },
      method, {}, options.progress ? std::weak_ptr<APIBaseDelegate>(std::static_pointer_cast<APIBaseDelegate>(shared_from_this()))
                           : std::weak_ptr<APIBaseDelegate>{});
  api->setAllowProgress(options.progress);
  send(api, endpoints_.openApiBase + path, openId_, std::move(params));
  if (options.reportUsage) TCDataReport::shared().mtaReportApi(path);
  return true;
}

bool VelmoraOAuth::getUserInfo() {
  if (!canCall()) return false;
  const bool toDelegate = userGetUserInfo_;
  userGetUserInfo_ = true;
  auto api = APIBase::initWithTarget(weak_from_this(), [toDelegate](APIBaseTarget& target, const std::shared_ptr<APIResponse>& r) {
    auto& session = static_cast<VelmoraOAuth&>(target);
    auto keep = session.shared_from_this();
    session.deleteAPIRequestBySeq(std::to_string(r->seq()));
    if (r->retCode() == 0 && r->jsonResponse()) {
      if (const std::string* nick = (*r->jsonResponse())["nickname"].string()) session.userNick_ = htmlUnescaped(*nick);
    }
    // The head-picture screen asked for the nick only; the delegate did not.
    if (!toDelegate) {
      if (session.tcUiKit_) session.tcUiKit_->setViewControllerData(os::Dictionary{{"nick", session.userNick_.value_or("")}});
      return;
    }
    if (auto delegate = session.sessionDelegate()) delegate->getUserInfoResponse(r);
  }, "GET");
  send(api, endpoints_.openApiBase + "user/get_user_info", openId_, {});
  return true;
}

bool VelmoraOAuth::getListAlbum() {
  return graphCall("photo/list_album", "GET", {}, &VelmoraSessionDelegate::getListAlbumResponse, {});
}
bool VelmoraOAuth::getListPhotoWithParams(const os::Dictionary& p) {
  return graphCall("photo/list_photo", "GET", p, &VelmoraSessionDelegate::getListPhotoResponse, {});
}
bool VelmoraOAuth::addShareWithParams(const os::Dictionary& p) {
  return graphCall("share/add_share", "POST", p, &VelmoraSessionDelegate::addShareResponse, {.reportUsage = true});
}
bool VelmoraOAuth::uploadPicWithParams(VelmoraParams p) {
  return graphCall("photo/upload_pic", "POST", std::move(p), &VelmoraSessionDelegate::uploadPicResponse, {.progress = true, .reportUsage = true});
}
bool VelmoraOAuth::addAlbumWithParams(const os::Dictionary& p) {
  return graphCall("photo/add_album", "POST", p, &VelmoraSessionDelegate::addAlbumResponse, {});
}
bool VelmoraOAuth::addOneBlogWithParams(const os::Dictionary& p) {
  return graphCall("blog/add_one_blog", "POST", p, &VelmoraSessionDelegate::addOneBlogResponse, {});
}
bool VelmoraOAuth::checkPageFansWithParams(const os::Dictionary& p) {
  return graphCall("user/check_page_fans", "GET", p, &VelmoraSessionDelegate::checkPageFansResponse, {});
}
bool VelmoraOAuth::addTopicWithParams(const os::Dictionary& p) {
  return graphCall("shuoshuo/add_topic", "POST", p, &VelmoraSessionDelegate::addTopicResponse, {.reportUsage = true});
}
bool VelmoraOAuth::getVipInfo() {
  return graphCall("user/get_vip_info", "GET", {}, &VelmoraSessionDelegate::getVipInfoResponse, {.mapErrors = true});
}
bool VelmoraOAuth::getVipRichInfo() {
  return graphCall("user/get_vip_rich_info", "GET", {}, &VelmoraSessionDelegate::getVipRichInfoResponse, {.mapErrors = true});
}
bool VelmoraOAuth::matchNickTips(const os::Dictionary& p) {
  return graphCall("friends/match_nick_tips_weibo", "GET", p, &VelmoraSessionDelegate::matchNickTipsResponse, {.mapErrors = true});
}
bool VelmoraOAuth::getIntimateFriends(const os::Dictionary& p) {
  return graphCall("friends/get_intimate_friends_weibo", "GET", p, &VelmoraSessionDelegate::getIntimateFriendsResponse,
                   {.mapErrors = true});
}

void VelmoraOAuth::apiBaseDidSendBodyData(APIBase& api, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                          std::int64_t totalBytesExpectedToWrite) {
  if (auto delegate = sessionDelegate())
    delegate->velmoraOAuthDidSendBodyData(*this, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite, api.userData());
}

bool VelmoraOAuth::cancel(const os::Value& userData) {
  for (auto it = apiRequests_.begin(); it != apiRequests_.end(); ++it) {
    if (it->second->userData().isNull() || it->second->userData() != userData) continue;
    auto api = it->second;
    apiRequests_.erase(it);
    api->cancel();
    return true;
  }
  return false;
}

void VelmoraOAuth::cancelWithRequestKey(const std::optional<std::string>& key) {
  if (!key) return;
  auto it = apiRequests_.find(*key);
  if (it == apiRequests_.end()) return;
  auto api = it->second;
  apiRequests_.erase(it);
  api->cancel();
}

// ---- plain requests ----

std::shared_ptr<VelmoraRequest> VelmoraOAuth::openUrl(const std::string& url, os::Dictionary params,
                                                      const std::string& httpMethod,
                                                      std::weak_ptr<VelmoraRequestDelegate> delegate) {
  params.set("format", "json");
  params.set("oauth_consumer_key", appId_.value_or(""));
  if (isSessionValid()) params.set("access_token", *accessToken_);
  if (openId_) params.set("openid", *openId_);
  // The previous request still answers its own caller: it is held until it has finished.
  std::erase_if(earlierRequests_, [](const auto& earlier) { return !earlier->loading(); });
  if (request_ && request_->loading()) earlierRequests_.push_back(std::move(request_));
  request_ = VelmoraRequest::getRequestWithParams(VelmoraParams(params), httpMethod, std::move(delegate), url);
  request_->connect();
  return request_;
}

std::shared_ptr<VelmoraRequest> VelmoraOAuth::requestWithParams(os::Dictionary params,
                                                                std::weak_ptr<VelmoraRequestDelegate> delegate) {
  const std::string* method = params["method"].string();
  if (!method) return nullptr;
  const std::string name = *method;
  params.remove("method");
  return requestWithMethodName(name, std::move(params), "GET", std::move(delegate));
}

std::shared_ptr<VelmoraRequest> VelmoraOAuth::requestWithMethodName(const std::string& method, os::Dictionary params,
                                                                    const std::string& httpMethod,
                                                                    std::weak_ptr<VelmoraRequestDelegate> delegate) {
  return openUrl(endpoints_.openApiBase + method, std::move(params), httpMethod, std::move(delegate));
}

std::shared_ptr<VelmoraRequest> VelmoraOAuth::requestWithGraphPath(const std::string& path,
                                                                   std::optional<os::Dictionary> params,
                                                                   std::optional<std::string> httpMethod,
                                                                   std::weak_ptr<VelmoraRequestDelegate> delegate) {
  return openUrl(endpoints_.openApiBase + "oauth2.0/" + path, params.value_or(os::Dictionary{}),
                 httpMethod.value_or("GET"), std::move(delegate));
}

void VelmoraOAuth::velmoraDialogLogin(const std::string& token, os::Date expirationDate) {
  accessToken_ = token;
  expirationDate_ = expirationDate;
  requestWithGraphPath("m_me", os::Dictionary{{"access_token", token}}, std::nullopt,
                       std::static_pointer_cast<VelmoraRequestDelegate>(shared_from_this()));
}

void VelmoraOAuth::requestDidLoad(VelmoraRequest&, const std::optional<os::Value>& result, const os::Data& data) {
  auto keep = shared_from_this();
  APIResponse raw;
  if (result && result->dictionary()) raw.setJsonResponse(*result->dictionary());
  raw.setMessage(std::string(data.begin(), data.end()));
  auto answer = VelmoraOpenIdAnswer(raw);
  auto delegate = sessionDelegate();
  // Only an open id is a login: the server's refusal of the token (its error wrapped in the same
  // callback) or an answer naming nobody fails it, and leaves the open id held before.
  const std::string* id = answer ? (*answer)["openid"].string() : nullptr;
  if (id && !id->empty()) {
    openId_ = *id;
    if (delegate) delegate->velmoraDidLogin();
  } else if (delegate) {
    delegate->velmoraDidNotLogin(false);
  }
}

void VelmoraOAuth::requestDidFailWithError(VelmoraRequest&, const os::Error&) {
  auto keep = shared_from_this();
  // Without an answer here the login would never end for the session delegate.
  if (auto delegate = sessionDelegate()) delegate->velmoraDidNotLogin(false);
}

// ---- head picture ----

bool VelmoraOAuth::setUserHeadpic(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName) {
  return showHeadPicker(picture, fileName, nullptr);
}

bool VelmoraOAuth::setUserHeadpic(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName,
                                  std::shared_ptr<os::ViewController>& screen) {
  return showHeadPicker(picture, fileName, &screen);
}

bool VelmoraOAuth::showHeadPicker(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName,
                                  std::shared_ptr<os::ViewController>* screen) {
  if (!canCall()) return false;
  const bool fits = picture && picture->size().width * picture->size().height <= 3264.0 * 2448.0;
  if (!fits) {
    auto response = std::make_shared<APIResponse>();
    response->setRetCode(1);
    response->setErrorMsg(TCOpenSDKErrorMsgUserHeadPicLarge);
    response->setDetailRetCode(kTCOpenSDKErrorUserHeadPicLarge);
    if (auto delegate = sessionDelegate()) delegate->setUserHeadpicResponse(response);
    return true;
  }
  if (!tcUiKit_) tcUiKit_ = std::make_unique<TCUiKit>(*appId_);
  if (!userNick_ || userNick_->empty()) {
    userGetUserInfo_ = false;
    getUserInfo();
  }
  auto delegate = std::static_pointer_cast<setHeadImageDelegate>(shared_from_this());
  // A picker already up keeps the screen; the call is still taken.
  if (!screen) {
    tcUiKit_->popSetHeadImageViewWnd(delegate, picture, fileName, userNick_);
    return true;
  }
  *screen = tcUiKit_->getHeadImageViewController(delegate, picture, fileName, userNick_);
  return true;
}

std::int32_t VelmoraOAuth::didFinishedSetUserLocalPic(SetHeadImageViewController&, const std::shared_ptr<os::Image>& image,
                                                      const std::string& fileName) {
  if (!image || !canCall()) return -1;
  auto png = os::encodePNG(*image);
  if (!png || png->empty()) return -1;
  std::optional<os::Data> data = png;
  if (png->size() > 102400) data = os::encodeJPEG(*image, 0.5);
  if (!data) return -1;
  VelmoraParams params{{"picture", os::Value(*data)},
                       {PARAM_SETUSERHEAD_FILENAME, os::Value(fileName.empty() ? kHeadImageDefaultFileName : fileName)}};
  auto api = APIBase::initWithTarget(
      weak_from_this(),
      [](APIBaseTarget& target, const std::shared_ptr<APIResponse>& response) {
        auto& session = static_cast<VelmoraOAuth&>(target);
        auto keep = session.shared_from_this();
        session.deleteAPIRequestBySeq(std::to_string(response->seq()));
        if (session.tcUiKit_) session.tcUiKit_->setViewControllerResponse(response);
        if (response->retCode() == 0) TCOpenSDKErrorUtil::apiResponseConvert(*response);
        if (auto delegate = session.sessionDelegate()) delegate->setUserHeadpicResponse(response);
      },
      "POST", {}, std::static_pointer_cast<APIBaseDelegate>(shared_from_this()));
  api->setAllowProgress(true);
  send(api, endpoints_.openApiBase + "user/set_user_face", openId_, std::move(params));
  TCDataReport::shared().mtaReportApi("user/set_user_face");
  return api->seq();
}

void VelmoraOAuth::didCancelled(std::int32_t) {
  if (timer_) timer_->invalidate();
  std::weak_ptr<VelmoraOAuth> weak = weak_from_this();
  timer_ = os::Timer::scheduled(0.1, false, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->onTimerCloseTcWindow();
  });
}

void VelmoraOAuth::onTimerCloseTcWindow() {
  auto self = shared_from_this();
  timer_.reset();
  if (auto delegate = sessionDelegate())
    delegate->velmoraOAuthDoCloseViewController(*this, tcUiKit_ ? tcUiKit_->headImageViewController() : nullptr);
  if (tcUiKit_) tcUiKit_->doClose();
}

std::int32_t VelmoraOAuth::sendRespMessageToVelmoraApp(const std::shared_ptr<VelmoraApiResp>& resp) {
  return VelmoraApiInterface::sendRespMessageToVelmoraApp(resp);
}

std::optional<std::string> VelmoraOAuth::getVelmoraAppInstallUrl(std::int32_t platform) {
  return VelmoraApiInterface::getVelmoraAppInstallUrl(platform);
}

// ---- generic CGI requests ----

std::shared_ptr<TCAPIRequest> VelmoraOAuth::cgiRequestWithURL(const std::string& url, const std::string& method,
                                                              const os::Dictionary& params,
                                                              std::weak_ptr<TCAPIRequestDelegate> callback) {
  auto request = TCAPIRequest::initWithURL(url, method);
  for (const auto& [k, v] : params) request->setObject(v, k);
  return sendAPIRequest(request, std::move(callback)) ? request : nullptr;
}

bool VelmoraOAuth::sendAPIRequest(const std::shared_ptr<TCAPIRequest>& request,
                                  std::weak_ptr<TCAPIRequestDelegate> callback) {
  if (!request || !canCall()) return false;
  const std::string method = os::uppercaseASCII(request->method());
  if (request->apiURL().empty() || (method != "GET" && method != "POST")) return false;
  if (!request->tryLoad()) return false;
  std::weak_ptr<TCAPIRequest> weakRequest = request;
  auto api = APIBase::initWithTarget(
      weak_from_this(),
      [weakRequest](APIBaseTarget& target, const std::shared_ptr<APIResponse>& response) {
        auto& session = static_cast<VelmoraOAuth&>(target);
        auto keep = session.shared_from_this();
        if (response->retCode() == 0) TCOpenSDKErrorUtil::apiResponseConvert(*response);
        const std::string key = std::to_string(response->seq());
        auto it = session.apiRequests_.find(key);
        auto call = it != session.apiRequests_.end() ? it->second : nullptr;
        session.deleteAPIRequestBySeq(key);
        if (auto r = weakRequest.lock(); r && call) r->apiBaseDidResponse(*call, response);
      },
      method, request->paramUserData());
  const std::string key = std::to_string(api->seq());
  request->attach(key, weak_from_this(), std::move(callback));
  send(api, request->apiURL(), openId_, VelmoraParams(request->params()));
  return true;
}

// ---- story and the web dialogs ----

bool VelmoraOAuth::openLocalPage(const os::Dictionary& params, const std::string& title) {
  const std::string path = os::Bundle::mainBundle()->bundlePath() + "/VelmoraOpenApi_IOS_Bundle.bundle/local.html";
  if (!os::FileManager::defaultManager().fileExistsAtPath(path)) return false;
  auto url = URLTools::GetURLWithParam("file://localhost" + path, params);
  if (!url) return false;
  if (!tcUiKit_) tcUiKit_ = std::make_unique<TCUiKit>(*appId_);
  // One dialog at a time: the one this replaces ends as cancelled, told once the new one is up.
  auto replaced = std::exchange(dialogMessage_, std::nullopt);
  const bool shown =
      tcUiKit_->popWebViewWnd(*url, title, std::static_pointer_cast<TCWebViewKitDelegate>(shared_from_this()));
  if (shown) dialogMessage_ = params["iface"].stringOr();
  if (replaced) answerDialog(*replaced, dialogResponse(kTCOpenSDKErrorUserCancel));
  return shown;
}

void VelmoraOAuth::answerDialog(const std::string& message, const std::shared_ptr<APIResponse>& response) {
  auto keep = shared_from_this();
  auto delegate = sessionDelegate();
  if (!delegate) return;
  if (message == "SendStory" && delegate->sendStoryResponse(response)) return;
  delegate->responseDidReceived(response, message);
}

void VelmoraOAuth::webViewKitDidFinishedWithError(TCWebViewKit&, const std::optional<os::Error>&) {
  // Closed without an answer: by the person, or taken away.
  if (auto pending = std::exchange(dialogMessage_, std::nullopt))
    answerDialog(*pending, dialogResponse(kTCOpenSDKErrorUserCancel));
}

bool VelmoraOAuth::sendStory(const os::Dictionary& given, const std::vector<os::Value>& friendList) {
  if (!canCall()) return false;
  if (trimmed(given["title"].string() ? std::optional<std::string>(*given["title"].string()) : std::nullopt).empty()) {
    auto alert = std::make_shared<os::AlertView>("分享失败", "标题不能为空", std::weak_ptr<os::AlertViewDelegate>{},
                                                 std::string("我知道啦"));
    alert->show();
    return false;
  }
  os::Dictionary params = given;
  params.remove(PARAM_USER_DATA);
  if (!friendList.empty())
    TCDataReport::shared().reportDataWithTime(0, "10784", *appId_, os::Clock::now(), std::nullopt);
  params.set("source", "4");
  for (const char* key : {"title", "summary", "description"})
    if (const std::string* v = params[key].string()) params.set(key, os::trimWhitespace(*v));
  std::string receivers;
  for (const os::Value& f : friendList)
    if (const std::string* id = f.string()) receivers += (receivers.empty() ? "" : ",") + *id;

  if (OpenApi::qzoneVersion() < 3) {
    params.set("iface", "SendStory");
    params.set("platform", "iosqz");
    params.set("access_token", *accessToken_);
    params.set("keytype", "21");
    params.set("openid", *openId_);
    params.set("oauth_consumer_key", *appId_);
    params.set("receiver", receivers);
    if (!openLocalPage(params, "分享")) return false;
    TCDataReport::shared().mtaReportApi("story");
    return true;
  }
  params.set("keystr", *accessToken_);
  params.set("keytype", "0x80");
  params.set("hopenid", *openId_);
  params.set("platform", "iosqz");
  params.set("appid", *appId_);
  params.set("type", "21");
  if (!friendList.empty()) params.set("receiver", os::Value(os::Array(friendList.begin(), friendList.end())));
  // A story QZone never received has no answer coming: its caller hears NO.
  if (!OpenApi::shareWithQZoneWithData(params)) return false;
  TCDataReport::shared().mtaReportApi("story");
  return true;
}

bool VelmoraOAuth::webViewKitShouldStartLoadWithRequest(TCWebViewKit& kit, const os::URLRequest& request,
                                                        os::WebViewNavigationType) {
  auto url = os::URL::parse(request.url());
  if (!url || !appId_ || url->scheme() != "velmora" + *appId_) return true;
  // Taken before the close, whose report would otherwise end the dialog a second time.
  const auto pending = std::exchange(dialogMessage_, std::nullopt);
  kit.doClose();
  auto message = url->host();
  if (!message || message->empty()) message = pending;
  if (!message) return false;
  const std::string path = url->path();
  // Any other path is no answer the caller can read: the dialog has ended all the same.
  auto response = dialogResponse(path == "/success" ? kTCOpenSDKErrorSuccess
                                 : path == "/cancel" ? kTCOpenSDKErrorUserCancel
                                                     : kTCOpenSDKErrorServer);
  os::Dictionary json;
  for (const std::string& piece : os::split(url->query().value_or(""), "&")) {
    auto parts = os::split(piece, "=");
    if (parts.size() == 2) json.set(parts[0], os::percentUnescape(parts[1]).value_or(parts[1]));
  }
  response->setJsonResponse(json);
  answerDialog(*message, response);
  return false;
}

// ---- QZone commands ----

bool VelmoraOAuth::sendAppInvitationWithDescription(std::optional<std::string> description,
                                                    std::optional<std::string> imageURL,
                                                    std::optional<std::string> source) {
  if (!canCall()) return false;
  if (OpenApi::qzoneVersion() < 4) {
    return openLocalPage(
        os::Dictionary{{"iface", "AppInvitation"}, {"platform", "iosqz"}, {"oauth_consumer_key", *appId_},
                       {"openid", *openId_}, {"access_token", *accessToken_},
                       {"encrytoken", localEncrytedToken().value_or("")}, {"desc", trimmed(description)},
                       {"picurl", imageURL.value_or("")}, {"source", source.value_or("")}},
        "应用邀请");
  }
  return OpenApi::sendCommandToQZone(
      "AppInvitation", os::Dictionary{{"appid", *appId_}, {"hopenid", *openId_}, {"keytype", "0x80"},
                                      {"keystr", *accessToken_}, {"platform", "iosqz"}, {"desc", trimmed(description)},
                                      {"picurl", imageURL.value_or("")}, {"app_custom", source.value_or("")}});
}

bool VelmoraOAuth::sendChallenge(std::optional<std::string> receiver, std::optional<std::string> type,
                                 std::optional<std::string> imageURL, std::optional<std::string> message,
                                 std::optional<std::string> source) {
  if (!canCall()) return false;
  const std::string kind = type.value_or("");
  if (receiver.value_or("").empty() || (kind != "pk" && kind != "brag")) {
    parameterAlert("挑战炫耀",
                   "参数错误: (receiver.length > 0 && ([type isEqualToString:@\"pk\"] || [type isEqualToString:@\"brag\"]))");
    return false;
  }
  if (OpenApi::qzoneVersion() < 4) {
    return openLocalPage(
        os::Dictionary{{"iface", "AppChallenge"}, {"platform", "iosqz"}, {"oauth_consumer_key", *appId_},
                       {"openid", *openId_}, {"access_token", *accessToken_},
                       {"encrytoken", localEncrytedToken().value_or("")}, {"receiver", *receiver},
                       {"type", kind}, {"img", imageURL.value_or("")}, {"msg", trimmed(message)},
                       {"source", source.value_or("")}},
        kind == "pk" ? "发送挑战" : "向TA炫耀");
  }
  os::logf("%s", openId_->c_str());
  return OpenApi::sendCommandToQZone(
      "AppChallenge", os::Dictionary{{"appid", *appId_}, {"hopenid", *openId_}, {"keytype", "0x80"},
                                     {"keystr", *accessToken_}, {"platform", "iosqz"}, {"receiver", *receiver},
                                     {"typeid", kind == "pk" ? "53" : "52"}, {"picurl", imageURL.value_or("")},
                                     {"sendmsg", trimmed(message)}, {"app_custom", source.value_or("")}});
}

bool VelmoraOAuth::sendGiftRequest(std::optional<std::string> receiver, std::optional<std::string> exclude,
                                   std::optional<std::string> specified, long only, std::optional<std::string> type,
                                   std::optional<std::string> title, std::optional<std::string> message,
                                   std::optional<std::string> imageURL, std::optional<std::string> source) {
  if (!canCall()) return false;
  const std::string kind = type.value_or("");
  if (kind != "request" && kind != "freegift") {
    parameterAlert("请求/赠送礼物",
                   "参数错误: (([type isEqualToString:@\"request\"] || [type isEqualToString:@\"freegift\"]))");
    return false;
  }
  if (OpenApi::qzoneVersion() < 4) {
    return openLocalPage(
        os::Dictionary{{"iface", "AppGiftRequest"}, {"platform", "iosqz"}, {"oauth_consumer_key", *appId_},
                       {"openid", *openId_}, {"access_token", *accessToken_},
                       {"encrytoken", localEncrytedToken().value_or("")}, {"receiver", receiver.value_or("")},
                       {"type", kind}, {"title", title.value_or("")}, {"img", imageURL.value_or("")},
                       {"msg", trimmed(message)}, {"source", source.value_or("")},
                       {"exclude", exclude.value_or("")}, {"specified", specified.value_or("")},
                       {"only", std::to_string(only)}},
        kind == "request" ? "请求礼物" : "赠送礼物");
  }
  return OpenApi::sendCommandToQZone(
      "AppGiftRequest",
      os::Dictionary{{"appid", *appId_},           {"hopenid", *openId_},
                     {"keytype", "0x80"},          {"keystr", *accessToken_},
                     {"platform", "iosqz"},        {"receiver", receiver.value_or("")},
                     {"typeid", kind == "request" ? "50" : "1"},
                     {"title", title.value_or("")}, {"picurl", imageURL.value_or("")},
                     {"sendmsg", trimmed(message)}, {"app_custom", source.value_or("")},
                     {"exclude", exclude.value_or("")}, {"specified", specified.value_or("")},
                     {"only", std::to_string(only)}});
}

// ---- more permissions ----

bool VelmoraOAuth::incrAuthWithPermissions(const std::vector<std::string>& permissions) {
  if (permissions.empty() || !accessToken_) return false;
  auto logic = std::make_shared<VelmoraIncrAuthLogic>(weak_from_this(), "10788");
  return authorizeWithPermissions(permissions, os::Dictionary{{"isadd", "1"}, {"access_token", *accessToken_}}, logic,
                                  false);
}

bool VelmoraOAuth::reauthorizeWithPermissions(const std::vector<std::string>& permissions) {
  permissions_ = permissions;
  userNick_.reset();
  return authorizeWithPermissions(permissions, std::nullopt,
                                  std::make_shared<VelmoraIncrAuthLogic>(weak_from_this(), std::nullopt), false);
}

bool VelmoraOAuth::velmoraNeedPerformIncrAuth(const std::optional<std::string>&,
                                              const std::vector<std::string>& permissions) {
  auto delegate = sessionDelegate();
  if (permissions.empty() || !delegate || !delegate->handlesUpdates()) return true;
  return delegate->velmoraNeedPerformIncrAuth(*this, permissions).value_or(true);
}

bool VelmoraOAuth::needPerformReAuth() {
  auto delegate = sessionDelegate();
  if (!delegate || !delegate->handlesUpdates()) return true;
  return delegate->velmoraNeedPerformReAuth(*this).value_or(true);
}

void VelmoraOAuth::velmoraDidUpdate(VelmoraOAuth& session) {
  if (auto delegate = sessionDelegate()) delegate->velmoraDidUpdate(session);
}

void VelmoraOAuth::velmoraFailedUpdate(int reason) {
  if (auto delegate = sessionDelegate()) delegate->velmoraFailedUpdate(reason);
}
