#include "platforms/qq/QQWebViewKit.h"

#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "qqconnect_core/json/TCOSDKSJSON.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect_core/requests/URLTools.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/runtime/Timer.h"
#include "os/views/Device.h"

namespace {

// First `count` characters (UTF-16 units, never splitting a character).
std::string prefix(const std::string& s, std::size_t count) { return os::substringToUTF16Index(s, count); }

}  // namespace

int QQWebViewKit::setShareParam(const QQApiMessage& message, os::Dictionary& param) {
  auto* link = dynamic_cast<const QQApiURLObject*>(message.object.get());
  if (!link) return 1;
  if (!link->title || link->title->empty()) return 5;
  std::string title = *link->title;
  if (os::utf16Length(title) >= 41) title = prefix(title, 39);
  param.set("title", title);
  if (link->description) {
    std::string summary = *link->description;
    if (os::utf16Length(summary) >= 201) summary = prefix(summary, 199);
    param.set("summary", summary);
  }
  if (!link->url || link->url->empty()) return 5;
  param.set("targeturl", *link->url);
  if (link->previewImageURL && !link->previewImageURL->empty()) param.set("imageUrl", *link->previewImageURL);
  for (const auto& [key, value] : TcApiTool::SDKInfo()) param.set(key, value);
  const auto& appId = QQApiDatastore::instance().appId;
  if (!appId || appId->empty()) return -1;
  param.set("appId", *appId);
  return 0;
}

int QQWebViewKit::openWebQQShare(const std::shared_ptr<QQApiMessage>& message) {
  if (!message) return 1;
  os::Dictionary param;
  if (const int code = setShareParam(*message, param); code != 0) return code;
  auto& store = QQApiDatastore::instance();
  param.set("site", store.appName.value_or(""));
  std::string path;
  if (message->type == 7) {
    param.set("page", "qzshare.html");
    param.set("loginpage", "loginindex.html");
    param.set("logintype", "qzone");
    path = "/api/check2";
  } else {
    param.set("page", "shareindex.html");
    param.set("style", "9");
    path = "/api/check";
  }
  const auto page = TcApiTool::GetURLWithParam(store.endpoints.shareCheckBase + path, param);
  if (!page) return 1;
  if (!TcApiTool::isRegistSchemeInfoPlistFile("velmora" + *store.appId) || !os::Device::current().isMultitaskingSupported()) {
    return 1;
  }
  // The browser takes everything after "url=" as the page address, as it stands.
  if (isNewQQBrowserInstall()) return QQOpenApiUtility::openURL("mqqbrowser://url=" + *page) == 0 ? 0 : 1;
  if (isOldQQBrowserInstall() && TcApiTool::systemVersion() >= 6.0f) {
    return QQOpenApiUtility::openURL("mttbrowser://url=" + *page) == 0 ? 0 : 1;
  }
  if (!QQOpenApiUtility::canOpenURL(*page)) return 1;
  return QQOpenApiUtility::openURL(*page) == 0 ? 0 : 1;
}

const std::shared_ptr<QQWebViewKit>& QQWebViewKit::instance() {
  static const auto shared = std::make_shared<QQWebViewKit>();
  return shared;
}

void QQWebViewKit::openWebKit() {
  if (timer_) timer_->invalidate();
  timer_.reset();
  if (webViewKit_) webViewKit_->open();
}

bool QQWebViewKit::webViewKitShouldStartLoadWithRequest(TCWebViewKit& kit, const os::URLRequest& request,
                                                        os::WebViewNavigationType) {
  const std::string url = request.url();
  const auto& store = QQApiDatastore::instance();
  const bool ours = (store.appId && !store.appId->empty() &&
                     (os::contains(url, "velmora" + *store.appId) || os::contains(url, *store.appId))) ||
                    (store.scheme && !store.scheme->empty() && os::contains(url, *store.scheme));
  if (!ours || !os::contains(url, store.endpoints.webAuthorisationHost)) return true;
  const os::Dictionary params = URLExtend::dictionaryByParseUrlFromSeparator(url, "?#");
  if (params["action"].stringOr() != "shareToQQ") return true;
  if (params["result"].stringOr() == "complete") os::logf("%s", params["response"].stringOr().c_str());
  kit.doClose();
  return true;
}

bool QQWebViewKit::isNewQQBrowserInstall() { return QQOpenApiUtility::canOpenURL("mqqbrowser://"); }
bool QQWebViewKit::isOldQQBrowserInstall() { return QQOpenApiUtility::canOpenURL("mttbrowser://"); }

bool QQWebViewKit::canHanleOpenUrlFromSafari(const std::string& url) {
  const auto& store = QQApiDatastore::instance();
  if (!store.appId || store.appId->empty()) return false;
  return os::contains(url, "velmora" + *store.appId) && os::contains(url, store.endpoints.webAuthorisationHost);
}

std::shared_ptr<QQApiMessage> QQWebViewKit::messageWithSafariUrl(const std::string& url) {
  const os::Dictionary params = URLExtend::dictionaryByParseUrlFromSeparator(url, "?#");
  const std::string action = params["action"].stringOr();
  if (action != "shareToQQ" && action != "share") return nullptr;
  auto result = std::make_shared<QQApiResultObject>();
  const std::string outcome = params["result"].stringOr();
  if (outcome == "cancel") {
    result->error = "-4";
    result->errorDescription = "the user give up the current operation";
  } else if (outcome == "complete") {
    const std::string response = params["response"].stringOr();
    os::logf("%s", response.c_str());
    const auto json = JSONValue(response);
    const os::Value& ret = json ? (*json)["ret"] : os::Value::null();
    result->error = ret.isNull() ? std::string("-5") : ret.stringOr(ret.description());
    if (json && (*json)["msg"].string()) result->errorDescription = *(*json)["msg"].string();
  } else {
    result->error = "-5";
    result->errorDescription = "unknown error";
  }
  return QQApiMessage::messageWithObject(result, 6);
}

std::optional<os::Value> QQWebViewKit::JSONValue(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  TCOSDKSJSONParser parser;
  auto value = parser.objectWithString(*text);
  if (!value) {
    std::string trace;
    for (const auto& e : parser.errorTrace()) trace += e.localizedDescription() + "; ";
    os::logf("-JSONValue failed. Error trace is: %s", trace.c_str());
  }
  return value;
}
