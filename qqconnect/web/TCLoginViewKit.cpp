#include "qqconnect/web/TCLoginViewKit.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "qqconnect_core/json/TCOSDKSJSON.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect_core/requests/URLTools.h"
#include "qqconnect_core/requests/VelmoraRequest.h"
#include "qqconnect/login/OpenApi.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {

constexpr unsigned kMaxNavigations = 21;

bool canOpen(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parse(text);
  return app && url && app->canOpenURL(*url);
}

bool openURL(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parseEscaping(text);
  return app && url && app->openURL(*url);
}

// A script function name: letters, digits, "_", "$" and "." for a member, never a leading digit.
bool isIdentifier(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '.') return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$' && c != '.') return false;
  return true;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out;
}

std::optional<std::string> text(const os::Dictionary& d, const char* key) {
  const std::string* s = d[key].string();
  return s ? std::optional<std::string>(*s) : std::nullopt;
}

// Base parameters of both logins, in the order the page expects them.
os::Dictionary baseParams(const std::string& appId, const std::string& redirect) {
  return os::Dictionary{{"response_type", "token"}, {"client_id", appId}, {"redirect_uri", "auth://" + redirect},
                        {"display", "mobile"},       {"state", "test"}};
}

}  // namespace

std::shared_ptr<TCLoginViewKit> TCLoginViewKit::initWithAppId(std::string appId, std::string redirectURI,
                                                              std::vector<std::string> permissions,
                                                              std::weak_ptr<TCLoginViewDelegate> loginDelegate,
                                                              TCLoginEndpoints endpoints) {
  auto kit = std::make_shared<TCLoginViewKit>(PrivateTag{}, std::move(endpoints));
  kit->appId_ = std::move(appId);
  kit->redirectURI_ = std::move(redirectURI);
  kit->permissions_ = std::move(permissions);
  kit->loginDelegate_ = std::move(loginDelegate);
  kit->setDelegate(std::static_pointer_cast<TCLoginViewKit>(kit->shared_from_this()));
  return kit;
}

std::string TCLoginViewKit::strippedRedirectURI() {
  if (redirectURI_.empty()) redirectURI_ = endpoints_.defaultRedirectURI;
  const std::size_t at = redirectURI_.find("://");
  if (at != std::string::npos) redirectURI_ = redirectURI_.substr(at + 3);
  return redirectURI_;
}

std::string TCLoginViewKit::getOwnBaseUrl() const { return "velmora" + appId_ + "://" + redirectURI_; }

std::string TCLoginViewKit::generateUrlString(const std::string& base, const std::optional<os::Dictionary>& params) {
  if (!params) return base;
  std::string query;
  for (const auto& [key, value] : *params) {
    if (!query.empty()) query += "&";
    const std::string v = value.string() ? *value.string() : value.description();
    query += key + "=" + URLExtend::stringByEncodeUrl(v);
  }
  return base + "?" + query;
}

os::Dictionary TCLoginViewKit::parseURLParams(const std::string& query) {
  os::Dictionary out;
  for (const std::string& piece : os::split(query, "&")) {
    auto parts = os::split(piece, "=");
    if (parts.size() < 2) continue;
    out.set(parts[0], os::percentUnescape(parts[1]).value_or(parts[1]));
  }
  return out;
}

void TCLoginViewKit::setAuthorData(std::string appId, std::string redirectURI, std::vector<std::string> permissions) {
  appId_ = std::move(appId);
  redirectURI_ = std::move(redirectURI);
  permissions_ = std::move(permissions);
}

void TCLoginViewKit::cleanUp() {
  accessToken_.reset();
  openId_.reset();
  expirationDate_.reset();
}

void TCLoginViewKit::clearData() {
  cleanUp();
  errorUrl_.reset();
  newloginDelegate_.reset();
  permissions_.clear();
  redirectURI_.clear();
}

bool TCLoginViewKit::isNewQQBrowserInstall() { return canOpen("mqqbrowser://"); }
bool TCLoginViewKit::isOldQQBrowserInstall() { return canOpen("mttbrowser://"); }

bool TCLoginViewKit::openWithExtraParams(const std::optional<os::Dictionary>& extraParams) {
  isUseSafari_ = false;
  if (appId_.empty()) {
    isBrowserError_ = false;
    return false;
  }
  os::Dictionary params = baseParams(appId_, strippedRedirectURI());
  params.set("switch", "1");
  for (const auto& [k, v] : TcApiTool::SDKInfo()) params.set(k, v);
  if (extraParams)
    for (const auto& [k, v] : *extraParams) params.set(k, v);
  if (!permissions_.empty()) params.set("scope", joined(permissions_));
  if (isBrowserError_) params.set("browser_error", "1");
  openedURL_ = generateUrlString(authorizeURL(), params);
  loadURL(openedURL_, "", std::static_pointer_cast<TCLoginViewKit>(shared_from_this()));
  isBrowserError_ = false;
  return true;
}

bool TCLoginViewKit::openWithSafariAndExtraParams(const std::optional<os::Dictionary>& extraParams) {
  if (appId_.empty() || !serial_) return false;
  const std::string key = TcApiTool::random16Str();
  const std::string redirect = strippedRedirectURI();
  char ms[32];
  std::snprintf(ms, sizeof ms, "%" PRIu64, static_cast<std::uint64_t>(os::Clock::now() * 1000));
  os::Dictionary params = baseParams(appId_, redirect);
  params.set("browser", "1");
  params.set("switch", "1");
  params.set("b_time", std::string(ms));
  params.set("token_key", key);
  params.set("serial", *serial_);
  for (const auto& [k, v] : TcApiTool::SDKInfo()) params.set(k, v);
  if (extraParams)
    for (const auto& [k, v] : *extraParams) params.set(k, v);
  if (!permissions_.empty()) params.set("scope", joined(permissions_));
  // The browser's redirect can only come back to an application that waits in the background.
  if (!TcApiTool::isRegistSchemeInfoPlistFile("velmora" + appId_) || !os::Device::current().isMultitaskingSupported())
    return false;
  loginDict_[*serial_] = key;
  params.set("redirect_uri", getOwnBaseUrl());
  const std::string url = VelmoraRequest::serializeURL(authorizeURL(), VelmoraParams(params));

  bool opened = false;
  if (isNewQQBrowserInstall()) opened = isUseSafari_ = openURL("mqqbrowser://url=" + url);
  if (isOldQQBrowserInstall() && TcApiTool::systemVersion() >= 6.0f) opened = isUseSafari_ = openURL("mttbrowser://url=" + url);
  if (opened) return true;
  if (!canOpen(url)) return false;
  isUseSafari_ = openURL(url);
  return isUseSafari_;
}

bool TCLoginViewKit::isRedirect(const os::URL& url) const {
  // The redirect address is a host (and maybe a path): the page must go to exactly it, not to an
  // address that merely contains it.
  const std::string host = redirectURI_.substr(0, redirectURI_.find_first_of("/?#"));
  return url.scheme() == "auth" && url.host() == host;
}

bool TCLoginViewKit::isCallback(const os::URL& url) const {
  return url.scheme() == os::lowercaseASCII("velmora" + appId_) && url.host() == endpoints_.callbackHost;
}

void TCLoginViewKit::closeLater() {
  // The web view is inside its own callback: the window goes on a later turn.
  std::weak_ptr<TCLoginViewKit> weak = self();
  os::DispatchQueue::main()->async([weak] {
    auto kit = weak.lock();
    if (!kit) return;
    if (kit->webViewController()) kit->webViewController()->doClose();
    kit->doClose();
  });
}

bool TCLoginViewKit::webViewKitShouldStartLoadWithRequest(TCWebViewKit&, const os::URLRequest& request,
                                                          os::WebViewNavigationType) {
  if (loginCount_ >= kMaxNavigations) {
    loginCount_ = 0;
    return false;
  }
  const std::string& target = request.url();
  if (target.empty()) return false;
  if (target == openedURL_) {
    ++loginCount_;
    return true;
  }
  auto url = os::URL::parse(target);
  strippedRedirectURI();
  if (url && isRedirect(*url)) {
    if (target.find("access_token") != std::string::npos) {
      os::Dictionary params = URLExtend::dictionaryByParseUrlFromSeparator(target, "#");
      if (params.empty()) params = URLExtend::dictionaryByParseUrlFromSeparator(target, "?");
      accessToken_ = text(params, kOPEN_KEY_AUTH_ACCESSTOKEN);
      openId_ = text(params, kOPEN_KEY_AUTH_OPENID);
      expirationDate_ = VelmoraExpiryDate(params.find(kOPEN_KEY_AUTH_EXPIRE_IN));
      encryToken_ = text(params, kOPEN_KEY_AUTH_SIGNATURE_KEY);
      for (const char* key : {kOPEN_KEY_AUTH_ACCESSTOKEN, kOPEN_KEY_AUTH_OPENID, kOPEN_KEY_AUTH_EXPIRE_IN,
                              kOPEN_KEY_AUTH_SIGNATURE_KEY, kOPEN_KEY_AUTH_PAGE_TYPE, kOPEN_KEY_AUTH_AUTH_TIME,
                              kOPEN_KEY_AUTH_STATE})
        params.remove(key);
      passData_ = params;
    }
    closeLater();
    loginCount_ = 0;
    return false;
  }
  if (url && isCallback(*url)) {
    handleOpenURL(target);
    loginCount_ = 0;
    return false;
  }
  if (target == "velmora" + appId_ + "://cancel") {
    isUseSafari_ = false;
    isUserCancel_ = true;
    loginCount_ = 0;
    closeLater();
    return false;
  }
  if (target.find("auth://browser") != std::string::npos) {
    const os::Dictionary params = URLExtend::dictionaryByParseUrlFromSeparator(target, "?");
    if (target.find("redir") != std::string::npos) errorUrl_ = text(params, "redir");
    if (openWithSafariAndExtraParams(extraParams_)) {
      loginCount_ = 0;
      return true;
    }
    if (params["fall_to_wv"].stringOr() == "1") {
      isBrowserError_ = true;
      ++loginCount_;
      auto kit = self();
      os::DispatchQueue::main()->async([kit] { kit->openWithExtraParams(kit->extraParams_); });
      return false;
    }
    if (errorUrl_) {
      const std::string page = *errorUrl_;
      auto kit = self();
      os::DispatchQueue::main()->async([kit, page] { kit->loadURL(page, "错误", kit); });
      ++loginCount_;
      return false;
    }
    return true;
  }
  return true;
}

void TCLoginViewKit::webViewKitDidFinishedWithError(TCWebViewKit&, const std::optional<os::Error>& error) {
  auto keep = self();
  auto delegate = loginDelegate_.lock();
  if (accessToken_ && !accessToken_->empty() && expirationDate_) {
    if (isUseSafari_) {
      isUseSafari_ = false;
      return;
    }
    if (delegate) delegate->loginViewKitDidSucceedLogin(*this, serial_);
    return;
  }
  if (isUseSafari_) return;
  std::optional<os::Error> reported = error;
  if (isUserCancel_) {
    isUserCancel_ = false;
    reported.reset();
  }
  if (delegate) delegate->loginViewKitDidFailuredWithError(*this, reported, serial_);
}

void TCLoginViewKit::webViewKitDidLoadWithNetworkError(TCWebViewKit&, const os::Error& error) {
  if (isUseSafari_) return;
  if (auto delegate = loginDelegate_.lock()) delegate->loginViewKitDidFailuredWithError(*this, error, serial_);
}

bool TCLoginViewKit::canHandleOpenURL(const std::optional<std::string>& url) const {
  if (!url) return false;
  const std::string callback = "velmora" + appId_ + "://" + endpoints_.callbackHost;
  if (url->rfind(callback, 0) != 0 && url->rfind(getOwnBaseUrl(), 0) != 0) return false;
  return !loginDict_.empty();
}

bool TCLoginViewKit::handleOpenURL(const std::optional<std::string>& urlText) {
  if (!canHandleOpenURL(urlText)) return false;
  auto url = os::URL::parse(*urlText);
  if (!url) return false;
  const std::string source = url->fragment() && !url->fragment()->empty() ? *url->fragment() : url->query().value_or("");
  const os::Dictionary params = parseURLParams(source);

  // The serial is checked before anything of the redirect is trusted, the "cb" script included.
  const std::optional<std::string> serial = text(params, "serial");
  auto entry = serial ? loginDict_.find(*serial) : loginDict_.end();
  if (entry == loginDict_.end()) return false;
  // The answer of a login a newer one replaced (its caller heard it cancelled) decides nothing of
  // the newer: its page stays, its token and outcome are its own.
  if (serial != serial_) {
    loginDict_.erase(entry);
    return true;
  }
  const std::optional<std::string> cb = text(params, "cb");
  if (cb && !isIdentifier(*cb)) return false;
  const std::string key = entry->second;
  loginDict_.erase(entry);

  if (cb) {
    const std::string json = TCOSDKSJSONWriter().stringWithFragment(os::Value(params)).value_or("{}");
    const std::string script = *cb + "(" + json + ")";
    auto kit = self();
    os::DispatchQueue::main()->async([kit, script] {
      if (kit->webViewController() && kit->webViewController()->webview())
        kit->webViewController()->webview()->stringByEvaluatingJavaScriptFromString(script);
      kit->doClose();
    });
  } else {
    doClose();
  }

  auto delegate = loginDelegate_.lock();
  if (auto token = text(params, kOPEN_KEY_AUTH_ACCESSTOKEN)) {
    accessToken_ = TcApiTool::decodeAccessToken(*token, key);
    if (auto oid = text(params, kOPEN_KEY_AUTH_OPENID)) openId_ = oid;
    expirationDate_ = VelmoraExpiryDate(params.find(kOPEN_KEY_AUTH_EXPIRE_IN));
    if (!delegate) return true;
    // A token that does not decipher with the key ends the login as failed, not never.
    if (accessToken_ && !accessToken_->empty())
      delegate->loginViewKitDidSucceedLogin(*this, serial);
    else
      delegate->loginViewKitDidFailuredWithError(*this, os::Error(), serial);
    return true;
  }
  const std::string error = params["error"].stringOr();
  if (error == "service_disabled_use_browser") {
    serial_ = serial;
    openWithSafari();
    return true;
  }
  if (!delegate) return true;
  if (params.contains("error_code") || (params.contains("error") && error != "access_denied"))
    delegate->loginViewKitDidFailuredWithError(*this, os::Error(), serial);
  else
    delegate->loginViewKitDidFailuredWithError(*this, std::nullopt, serial);
  return true;
}
