#include "qqconnect/login/VelmoraOAuth.h"

#include <cstdio>

#include "platforms/qq/QQApi.h"
#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "qqconnect_core/json/TCOSDKSJSON.h"
#include "qqconnect_core/login/TXAppidConvert.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect/login/OpenApi.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Timer.h"
#include "os/views/AlertView.h"

namespace {

// The session as its own login delegate is held without ownership where it keeps the holder
// itself (or clears it on destruction), so no cycle keeps it alive.
std::shared_ptr<VelmoraLoginDelegate> unlessSelf(std::shared_ptr<VelmoraLoginDelegate> delegate, VelmoraOAuth* self) {
  if (delegate.get() == static_cast<VelmoraLoginDelegate*>(self))
    return std::shared_ptr<VelmoraLoginDelegate>(std::shared_ptr<void>(), delegate.get());
  return delegate;
}

std::string orNull(const std::optional<std::string>& s) { return s ? *s : "(null)"; }

void removeAll(std::string& text, std::string_view piece) {
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) text.erase(at, piece.size());
}

}  // namespace

// The open id answer comes wrapped as `callback( {...} );` plus a line break.
std::optional<os::Dictionary> VelmoraOpenIdAnswer(const APIResponse& response) {
  if (response.jsonResponse() && !response.jsonResponse()->empty()) return response.jsonResponse();
  const std::string raw = response.message().value_or("");
  if (raw.size() < 13 || raw.rfind("callback", 0) != 0) return std::nullopt;
  auto value = TCOSDKSJSONParser().objectWithString(std::string_view(raw).substr(10, raw.size() - 13));
  if (!value || !value->dictionary() || value->dictionary()->empty()) return std::nullopt;
  return *value->dictionary();
}

namespace {

void alert(const char* title, const char* message) {
  auto view = std::make_shared<os::AlertView>(title, message, std::weak_ptr<os::AlertViewDelegate>{},
                                              std::string(kVelmoraAlertButton));
  view->show();
}

}  // namespace

VelmoraOAuth::VelmoraOAuth(PrivateTag, VelmoraOAuthEndpoints endpoints) : endpoints_(std::move(endpoints)) {}

std::shared_ptr<VelmoraOAuth> VelmoraOAuth::initWithAppId(const std::string& appId,
                                                          std::weak_ptr<VelmoraSessionDelegate> delegate,
                                                          VelmoraOAuthEndpoints endpoints) {
  auto session = std::make_shared<VelmoraOAuth>(PrivateTag{}, std::move(endpoints));
  TXAppidConvert convert;
  if (!convert.InitWithAppId(appId)) return session;
  auto connection = convert.GetConnectionAppId();
  auto mobile = convert.GetMQQAppId();
  if (!connection || !mobile) return session;
  session->appId_ = *connection;
  session->setSessionDelegate(std::move(delegate));
  session->redirectURI_ = session->endpoints_.portalHost;
  QQApi::registerQQConnectAppId(*connection);
  QQApi::registerPluginWithId(*mobile);
  // The policy and the analytics client know the application by the id as the host gave it.
  auto policy = ConfigManager::GetInstance();
  policy->setPolicyURL(session->endpoints_.policyURL);
  policy->setAppid(appId);
  policy->requestConfig();
  auto& reports = TCDataReport::shared();
  reports.setReportURL(session->endpoints_.reportURL);
  reports.mtaStart(appId);
  return session;
}

VelmoraOAuth::~VelmoraOAuth() {
  if (timer_) timer_->invalidate();
  os::NotificationCenter::defaultCenter().removeObserver(this);
  if (reachHost_) reachHost_->stopNotifier();
  OpenApi::unRegisterApp(appId_.value_or(""), registeredDelegate_, this);
}

void VelmoraOAuth::setSessionDelegate(std::weak_ptr<VelmoraSessionDelegate> delegate) {
  auto strong = delegate.lock();
  if (strong) {
    sessionDelegate_ = delegate;
    registeredDelegate_ = strong.get();
    OpenApi::registerApp(appId_.value_or(""), std::move(delegate), weak_from_this());
  } else {
    OpenApi::unRegisterAppSessionDelegate(registeredDelegate_);
    sessionDelegate_.reset();
    registeredDelegate_ = nullptr;
  }
}

void VelmoraOAuth::setOpenId(std::optional<std::string> v) {
  openId_ = std::move(v);
  if (openId_) QQApi::registerQQConnectOpenId(openId_);
}

bool VelmoraOAuth::isSessionValid() const {
  return accessToken_ && expirationDate_ && expirationDate_->timeIntervalSince(os::Date::now()) > 0;
}

std::string VelmoraOAuth::getOwnBaseUrl() const { return "velmora" + appId_.value_or("") + "://" + redirectURI_; }

// ---- install probes ----

bool VelmoraOAuth::iphoneQQInstalled() { return OpenApi::qqVersion() != 0; }
bool VelmoraOAuth::iphoneQQSupportSSOLogin() {
  return TcApiTool::systemVersion() < 7.0f ? OpenApi::qqVersion() > 1 : OpenApi::qqVersion() > 2;
}
bool VelmoraOAuth::iphoneQZoneInstalled() { return OpenApi::qzoneVersion() != 0; }
bool VelmoraOAuth::iphoneQZoneSupportSSOLogin() {
  return TcApiTool::systemVersion() < 7.0f ? OpenApi::qzoneVersion() > 2 : OpenApi::qzoneVersion() > 4;
}

// ---- login ----

bool VelmoraOAuth::authorize(const std::vector<std::string>& permissions, const std::optional<std::string>& localAppId,
                             bool) {
  localAppId_ = localAppId;
  permissions_ = permissions;
  userNick_.reset();
  return authorizeWithPermissions(permissions_, std::nullopt, shared_from_this(), false);
}

bool VelmoraOAuth::authorize(const std::vector<std::string>& permissions, bool inSafari) {
  return authorize(permissions, std::nullopt, inSafari);
}

bool VelmoraOAuth::authorizeWithPermissions(std::vector<std::string> permissions,
                                            const std::optional<os::Dictionary>& extraParams,
                                            std::shared_ptr<VelmoraLoginDelegate> delegate, bool inSafari) {
  if (delegate) {
    if (auto replaced = delegate->getAuthorizedPermissions(permissions, extraParams)) permissions = std::move(*replaced);
  }
  if (OpenApi::authorizeWithPermission(permissions, unlessSelf(delegate, this), true)) {
    TCDataReport::shared().reportData(0, "10786", appId_.value_or(""), std::nullopt);
    return true;
  }
  // A login that continues on the web page reports no action of its own.
  if (delegate) delegate->setReportAction(std::nullopt);
  return authorizeWithVelmoraAppAuthInSafari(inSafari, permissions, extraParams, std::move(delegate));
}

bool VelmoraOAuth::authorizeWithVelmoraAppAuthInSafari(bool, const std::vector<std::string>& permissions,
                                                       const std::optional<os::Dictionary>& extraParams,
                                                       std::shared_ptr<VelmoraLoginDelegate> delegate) {
  if (!appId_ || !TcApiTool::isRegistSchemeInfoPlistFile("velmora" + *appId_)) {
    alert(kVelmoraConfigAlertTitle, kVelmoraConfigAlertMessage);
    return false;
  }
  if (!StartNotifyNetWork()) {
    // The session forwards to its delegate, which the watch has told already: once is enough.
    if (delegate && delegate.get() != static_cast<VelmoraLoginDelegate*>(this)) delegate->velmoraDidNotNetWork();
    return false;
  }
  // The kit serves one login at a time: a login it still serves (not one already waiting for its
  // open id) is ended as cancelled, so its caller hears once and is let go.
  std::shared_ptr<VelmoraLoginDelegate> replaced;
  if (loginViewKit_ && loginViewKit_->serial() && !apiRequests_.contains(*loginViewKit_->serial())) {
    if (auto it = loginDict_.find(*loginViewKit_->serial()); it != loginDict_.end()) {
      replaced = std::move(it->second);
      loginDict_.erase(it);
    }
  }
  if (loginViewKit_) {
    loginViewKit_->clearData();
    loginViewKit_->setAuthorData(*appId_, redirectURI_, permissions);
  } else {
    loginViewKit_ = TCLoginViewKit::initWithAppId(*appId_, redirectURI_, permissions,
                                                  std::static_pointer_cast<TCLoginViewDelegate>(shared_from_this()),
                                                  endpoints_.loginPage);
  }
  const std::string serial = std::to_string(APIBase::getApiBaseSeq());
  loginViewKit_->setSerial(serial);
  loginViewKit_->setNewloginDelegate(delegate);
  loginViewKit_->setExtraParams(extraParams);
  const bool opened = loginViewKit_->openWithExtraParams(extraParams);
  if (opened && delegate) loginDict_[serial] = unlessSelf(std::move(delegate), this);
  // Told last: the caller may start another login from its answer.
  if (replaced) {
    auto self = shared_from_this();
    replaced->velmoraDidNotLogin(true);
  }
  return opened;
}

void VelmoraOAuth::loginViewKitDidSucceedLogin(TCLoginViewKit& kit, const std::optional<std::string>& serial) {
  auto self = shared_from_this();
  StopNotifyNetWork();
  if (!serial || &kit != loginViewKit_.get()) return;
  auto it = loginDict_.find(*serial);
  if (it == loginDict_.end()) return;
  accessToken_ = kit.accessToken();
  expirationDate_ = kit.expirationDate();
  encryToken_ = kit.encryToken();
  passData_ = kit.passData();
  if (kit.openId() && !kit.openId()->empty()) {
    auto delegate = std::move(it->second);
    loginDict_.erase(it);
    setOpenId(kit.openId());
    delegate->velmoraDidLogin();
    return;
  }
  if (getOpenId(*serial)) return;
  // Nothing will answer: the login ends here rather than never.
  auto delegate = std::move(it->second);
  loginDict_.erase(it);
  delegate->velmoraDidNotLogin(false);
}

void VelmoraOAuth::loginViewKitDidFailuredWithError(TCLoginViewKit& kit, const std::optional<os::Error>& error,
                                                    const std::optional<std::string>& serial) {
  auto self = shared_from_this();
  StopNotifyNetWork();
  if (!serial) return;
  auto it = loginDict_.find(*serial);
  if (it == loginDict_.end()) return;
  auto delegate = std::move(it->second);
  loginDict_.erase(it);
  if (&kit != loginViewKit_.get()) return;
  if (!error) return delegate->velmoraDidNotLogin(true);
  if (error->code == -1009) {
    delegate->velmoraDidNotNetWork();
    showNetworkAlert();
    return;
  }
  delegate->velmoraDidNotLogin(false);
}

bool VelmoraOAuth::authorize(const std::vector<std::string>& permissions) {
  localAppId_.reset();
  permissions_ = permissions;
  userNick_.reset();
  return userLoginStatis();
}

void VelmoraOAuth::send(const std::shared_ptr<APIBase>& api, const std::string& url,
                        const std::optional<std::string>& openId, VelmoraParams params) {
  apiRequests_[std::to_string(api->seq())] = api;
  api->openUrl(url, isSessionValid() ? accessToken_ : std::nullopt, openId, appId_, std::move(params));
}

bool VelmoraOAuth::userLoginStatis() {
  VelmoraParams params;
  params.set("oauth_consumer_key", os::Value(appId_.value_or("")));
  if (isSessionValid()) params.set("access_token", os::Value(*accessToken_));
  if (openId_) params.set("openid", os::Value(*openId_));
  auto digest = VelmoraApiUtil::md5("wirnoln&pqe&bravu***58273%%" + orNull(accessToken_) + orNull(appId_) +
                                    orNull(openId_) + "vexil7.2");
  if (digest) params.set("encrytoken", os::Value(*digest));
  auto api = APIBase::initWithTarget(weak_from_this(), [](APIBaseTarget& target, const std::shared_ptr<APIResponse>& r) {
    static_cast<VelmoraOAuth&>(target).userLoginStatisResponse(r);
  }, "GET");
  loginRequests_[std::to_string(api->seq())] = logouts_;
  send(api, endpoints_.openApiBase + "user/user_login_statis", std::nullopt, std::move(params));
  return true;
}

bool VelmoraOAuth::loggedOutSince(const std::string& seq) {
  auto it = loginRequests_.find(seq);
  if (it == loginRequests_.end()) return false;
  const bool loggedOut = it->second != logouts_;
  loginRequests_.erase(it);
  return loggedOut;
}

void VelmoraOAuth::userLoginStatisResponse(const std::shared_ptr<APIResponse>& response) {
  auto self = shared_from_this();
  deleteAPIRequestBySeq(std::to_string(response->seq()));
  // The reader logged out while the check was out: whatever it says, nobody is logged in.
  if (loggedOutSince(std::to_string(response->seq()))) return velmoraDidNotLogin(true);
  std::string text = response->message().value_or("");
  removeAll(text, "_Callback(");
  removeAll(text, ");");
  auto value = TCOSDKSJSONParser().objectWithString(text);
  // An answer that is no JSON (or no answer at all) must still end the login.
  if (!value || !value->dictionary()) return velmoraDidNotLogin(false);
  const os::Value& ret = (*value->dictionary())["ret"];
  const std::string retText = ret.isNumber() ? std::to_string(ret.intValue()) : ret.stringOr();
  if (!ret.isNull() && retText == "0") return velmoraDidLogin();
  // The stored session is stale: a new login. Without the reply scheme declared none can start,
  // and the configuration alert alone would leave the caller waiting; a missing network has
  // been told already.
  if (authorize(permissions_, true)) return;
  if (!appId_ || !TcApiTool::isRegistSchemeInfoPlistFile("velmora" + *appId_)) velmoraDidNotLogin(false);
}

bool VelmoraOAuth::getOpenId(const std::string& serial) {
  const long long number = os::Value(serial).intValue();
  // Without the user-information road nothing would be sent: say so rather than wait forever.
  if (!isSessionValid() || number == 0 || !userGetUserInfo_) return false;
  VelmoraParams params{{"format", os::Value("json")}, {"oauth_consumer_key", os::Value(appId_.value_or(""))}};
  params.set("access_token", os::Value(*accessToken_));
  if (openId_) params.set("openid", os::Value(*openId_));
  auto api = APIBase::initWithTarget(weak_from_this(), [](APIBaseTarget& target, const std::shared_ptr<APIResponse>& r) {
    static_cast<VelmoraOAuth&>(target).getOpenIdResponse(r);
  }, "GET");
  api->setSeq(static_cast<std::int32_t>(number));
  loginRequests_[serial] = logouts_;
  send(api, endpoints_.openApiBase + "oauth2.0/m_me", openId_, std::move(params));
  return true;
}

void VelmoraOAuth::getOpenIdResponse(const std::shared_ptr<APIResponse>& response) {
  auto self = shared_from_this();
  const std::string serial = std::to_string(response->seq());
  deleteAPIRequestBySeq(serial);
  std::shared_ptr<VelmoraLoginDelegate> delegate;
  if (auto it = loginDict_.find(serial); it != loginDict_.end()) {
    delegate = std::move(it->second);
    loginDict_.erase(it);
  }
  if (loggedOutSince(serial)) {
    // The reader logged out while the login waited for its open id: the login ends unfinished.
    if (delegate) delegate->velmoraDidNotLogin(true);
    return;
  }
  auto answer = VelmoraOpenIdAnswer(*response);
  const std::string* openId = answer ? (*answer)["openid"].string() : nullptr;
  if (openId && !openId->empty()) openId_ = *openId;
  if (!delegate) return;
  // An empty or unreadable answer fails the login instead of leaving it open.
  if (openId && !openId->empty())
    delegate->velmoraDidLogin();
  else
    delegate->velmoraDidNotLogin(false);
}

void VelmoraOAuth::logout(const std::shared_ptr<VelmoraSessionDelegate>& fallback) {
  ++logouts_;
  accessToken_.reset();
  openId_.reset();
  expirationDate_.reset();
  permissions_.clear();
  auto delegate = sessionDelegate();
  if (delegate && delegate->velmoraDidLogout()) return;
  if (fallback) fallback->velmoraDidLogout();
}

// ---- network watch ----

bool VelmoraOAuth::StartNotifyNetWork() {
  StopNotifyNetWork();
  if (reachHost_) reachHost_->stopNotifier();
  reachHost_ = TCOSDKReachability::reachabilityWithHostName(endpoints_.portalHost);
  // No watch at all is no network.
  if (!reachHost_ || reachHost_->currentReachabilityStatus() == 0) {
    if (auto delegate = sessionDelegate()) delegate->velmoraDidNotNetWork();
    return false;
  }
  std::weak_ptr<VelmoraOAuth> weak = weak_from_this();
  timer_ = os::Timer::scheduled(1.0, true, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->onTimer();
  });
  os::NotificationCenter::defaultCenter().addObserver(
      this, kTCOSDKReachabilityChangedNotification, reachHost_->notificationObject(), [weak](const os::Notification&) {
        auto self = weak.lock();
        if (!self || !self->reachHost_ || self->reachHost_->currentReachabilityStatus() != 0) return;
        self->reachHost_->stopNotifier();
        self->showNetworkAlert();
      });
  return reachHost_->startNotifier();
}

void VelmoraOAuth::StopNotifyNetWork() {
  if (timer_) timer_->invalidate();
  timer_.reset();
  os::NotificationCenter::defaultCenter().removeObserver(this, kTCOSDKReachabilityChangedNotification);
}

void VelmoraOAuth::onTimer() {
  if (!reachHost_ || reachHost_->currentReachabilityStatus() == 0) showNetworkAlert();
}

void VelmoraOAuth::showNetworkAlert() { alert(kVelmoraNetworkAlertTitle, kVelmoraNetworkAlertMessage); }

os::Dictionary VelmoraOAuth::parseURLParams(const std::string& query) {
  os::Dictionary out;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string part = query.substr(start, end - start);
    const std::size_t eq = part.find('=');
    if (eq != std::string::npos) {
      const std::size_t next = part.find('=', eq + 1);
      const std::string value = part.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
      out.set(part.substr(0, eq), os::percentUnescape(value).value_or(value));
    }
    start = end + 1;
  }
  return out;
}

// ---- URLs ----

bool VelmoraOAuth::HandleOpenURL(const std::optional<std::string>& url) { return OpenApi::handleOpenURL(url); }

bool VelmoraOAuth::CanHandleOpenURL(const std::optional<std::string>& url) {
  if (VelmoraApiInterface::canOpenURL(url, nullptr)) return true;
  return OpenApi::canHandleOpenURL(url);
}

bool VelmoraOAuth::handleOpenURL(const std::optional<std::string>& url) {
  if (loginViewKit_ && loginViewKit_->handleOpenURL(url)) return true;
  auto delegate = sessionDelegate();
  return VelmoraApiInterface::handleOpenURL(url, delegate.get());
}

bool VelmoraOAuth::oldCanhandleOpenURL(const std::optional<std::string>& url) const {
  return loginViewKit_ && loginViewKit_->canHandleOpenURL(url);
}

// ---- forwarded callbacks ----

void VelmoraOAuth::velmoraDidLogin() {
  auto self = shared_from_this();
  if (auto delegate = sessionDelegate()) delegate->velmoraDidLogin();
  // Read after the delegate: it may have logged out already.
  if (openId_ && !openId_->empty()) TCDataReport::shared().mtaSetAccount(*openId_);
}

void VelmoraOAuth::velmoraDidNotLogin(bool cancelled) {
  if (auto delegate = sessionDelegate()) delegate->velmoraDidNotLogin(cancelled);
}

void VelmoraOAuth::velmoraDidNotNetWork() {
  if (auto delegate = sessionDelegate()) delegate->velmoraDidNotNetWork();
}
