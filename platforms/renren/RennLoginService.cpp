#include "platforms/renren/RennLoginService.h"

#include <utility>

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "platforms/renren/RennAuthorizeView.h"
#include "platforms/renren/RennClient.h"
#include "platforms/renren/RennUtility.h"

RennLoginService& RennLoginService::sharedRennLoginService() {
  static RennLoginService service;
  return service;
}

void RennLoginService::setDelegate(std::weak_ptr<RennLoginDelegate> d) {
  delegate_ = std::move(d);
  waitingForSSO_ = false;
}

std::string RennLoginService::successPage() const { return "http://" + hosts_.oauthHost + "/oauth/login_success.html"; }

std::string RennLoginService::callbackScheme() const {
  auto bundle = os::Bundle::mainBundle();
  return "rm" + appId_ + (bundle ? bundle->bundleIdentifier().value_or("") : "");
}

// One login at a time: a web dialog still up when another login or registration starts ends as
// cancelled, so its caller hears once and no second dialog lies under the new one. Told last, as
// its caller may start another login from the answer.
void RennLoginService::login() {
  auto replaced = std::exchange(authorizeView_, {}).lock();
  startLogin();
  if (replaced) replaced->cancel();
}

void RennLoginService::quickRegister() {
  auto replaced = std::exchange(authorizeView_, {}).lock();
  startQuickRegister();
  if (replaced) replaced->cancel();
}

void RennLoginService::startLogin() {
  if (RennClient::isAuthorizeValid()) {
    if (auto d = delegate()) d->rennLoginSuccess();
    return;
  }
  if (canLaunchRenrenSSO() && enableSSO_) {
    auto app = os::Application::shared();
    auto url = getSSOUrl();
    if (app && url && app->openURL(*url)) {
      waitingForSSO_ = true;
      return;
    }
  }
  if (!scope_) scope_ = "";
  if (!tokenType_) tokenType_ = "bearer";
  os::Dictionary params{{"client_id", os::Value(apiKey_)},
                        {"redirect_uri", os::Value(successPage())},
                        {"token_type", os::Value(*tokenType_)},
                        {"scope", os::Value(*scope_)}};
  showAuthorizeView(std::move(params), "https://" + hosts_.oauthHost + "/oauth/v2/wap/authorize");
}

void RennLoginService::showAuthorizeView(os::Dictionary params, const std::string& address) {
  auto view = RennAuthorizeView::initWithAuthParams(std::move(params), delegate_, address);
  authorizeView_ = view;
  view->show();
}

void RennLoginService::logout() {
  RennClient::setAccessToken(std::nullopt);
  if (auto d = delegate()) d->rennLogoutSuccess();
}

bool RennLoginService::canLaunchRenrenSSO() const {
  if (!os::Device::current().isMultitaskingSupported()) return false;
  auto app = os::Application::shared();
  if (!app) return false;
  for (const std::string& scheme : {std::string("renrenapi"), std::string("renrenios"), callbackScheme()}) {
    auto url = os::URL::parse(scheme + "://test");
    if (!url || !app->canOpenURL(*url)) return false;
  }
  return true;
}

std::optional<os::URL> RennLoginService::getSSOUrl() {
  if (!os::Device::current().isMultitaskingSupported()) return std::nullopt;
  if (!scope_) scope_ = "";
  if (!tokenType_) tokenType_ = "bearer";
  std::string address =
      RennUtility::serializeURL("renrenios://authorize", os::Dictionary{{"scope", os::Value(*scope_)}});
  address = RennUtility::serializeURL(address, os::Dictionary{{"sdk_version", os::Value(kRennSDKVersion)},
                                                              {"api_version", os::Value(kRennAPIVersion)},
                                                              {"client_id", os::Value(apiKey_)},
                                                              {"app_id", os::Value(appId_)},
                                                              {"token_type", os::Value(*tokenType_)},
                                                              {"url_scheme", os::Value(callbackScheme())}});
  return os::URL::parse(address);
}

bool RennLoginService::handleOpenURL(const os::URL& url) {
  const std::string& text = url.absoluteString();
  const std::string scheme = callbackScheme();
  const bool cancel = os::hasPrefix(text, scheme + "://cancel");
  const bool success = os::hasPrefix(text, scheme + "://success");
  // Only the reply to a sign-on this application started: any application can open the
  // callback scheme, and must not be able to plant a token of its choosing.
  if ((!cancel && !success) || !waitingForSSO_) return false;
  if (cancel) {
    waitingForSSO_ = false;
    if (auto d = delegate()) d->rennLoginCancelded();
    return true;
  }
  const os::Dictionary params = RennUtility::parseURLParams(url.fragment() ? url.fragment() : url.query());
  const std::string* access = params["access_token"].string();
  if (!access || access->empty()) {
    // The sign-on this application started has ended without a token: the delegate hears it
    // failed rather than waiting for a reply that will not come. Nothing is stored.
    waitingForSSO_ = false;
    if (auto d = delegate())
      d->rennLoginDidFailWithError(
          os::Error::withDescription("renren", 0, "The sign-on reply carries no access token."));
    return false;
  }
  auto text_ = [&params](const char* key) -> std::optional<std::string> {
    if (const std::string* s = params[key].string()) return *s;
    return std::nullopt;
  };
  RennAccessToken token;
  token.setAccessToken(*access);
  if (auto macKey = text_("mac_key")) {
    token.setTokenType("mac");
    token.setMacKey(macKey);
    token.setMacAlgorithm(text_("mac_algorithm"));
  } else {
    token.setTokenType("bearer");
    token.setRefreshToken(text_("refresh_token"));
    token.setExpiresIn(os::longLongValue(text_("expires_in").value_or("")));
  }
  if (auto scope = text_("scope")) token.setAccessScope(os::replaceAll(*scope, "+", " "));
  token.setRequestTime(os::Date::now().timeIntervalSince1970());
  waitingForSSO_ = false;
  RennClient::setAccessToken(token);
  if (auto d = delegate()) d->rennLoginSuccess();
  return true;
}

void RennLoginService::startQuickRegister() {
  if (!scope_) scope_ = "";
  os::Dictionary params{{"client_id", os::Value(apiKey_)},
                        {"response_type", os::Value("token")},
                        {"redirect_uri", os::Value(successPage())},
                        {"scope", os::Value(*scope_)}};
  showAuthorizeView(std::move(params), "http://" + hosts_.mobileHost + "/opReg?url=https://" + hosts_.oauthHost +
                                           "/oauth/authorize?display=touch");
}
