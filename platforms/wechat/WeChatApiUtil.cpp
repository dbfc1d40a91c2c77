#include "platforms/wechat/WeChatApiUtil.h"

#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"

// The device profile answers at once, so neither the version nor the scale is cached: a cache
// would outlive a profile change.
bool WeChatApiUtil::isiOS7plus() { return os::doubleValue(os::Device::current().systemVersion()) > 6.9; }

bool WeChatApiUtil::is2xScreen() { return os::Screen::main().scale() == 2.0; }

std::optional<os::Value> WeChatApiUtil::propertyListFromData(const std::optional<os::Data>& data) {
  if (!data) return std::nullopt;
  return os::PropertyList::read(*data);
}

std::optional<os::Data> WeChatApiUtil::dataFromPropertyList(const os::Value& propertyList) {
  return os::PropertyList::write(propertyList, os::PropertyListFormat::Binary);
}

std::optional<os::URL> WeChatApiUtil::getWeChatUrl(const std::string& appId, const std::string& extraUrl) {
  if (appId.empty()) return std::nullopt;
  return os::URL::parse("weixin://app/" + appId + "/" + extraUrl);
}

std::optional<os::URL> WeChatApiUtil::getAppUrl(const std::string& scheme) {
  if (scheme.empty()) return std::nullopt;
  return os::URL::parse(scheme + "://");
}

bool WeChatApiUtil::isAppOpenUrl(const os::URL& url, const std::string& appId) {
  return !appId.empty() && os::hasPrefix(url.absoluteString(), appId + "://");
}

bool WeChatApiUtil::isAppInstalledWithCatchException(const std::string& scheme) {
  try {
    return isAppInstalledWithoutCatchException(scheme);
  } catch (const os::Exception&) {
    return false;
  }
}

bool WeChatApiUtil::isAppInstalledWithoutCatchException(const std::string& scheme) {
  auto app = os::Application::shared();
  auto url = getAppUrl(scheme);
  return app && url && app->canOpenURL(*url);
}

bool WeChatApiUtil::launchApp(const std::string& scheme) {
  auto app = os::Application::shared();
  auto url = getAppUrl(scheme);
  return app && url && app->openURL(*url);
}

std::optional<os::URL> WeChatApiUtil::getAppUrlWithPlatformId(const std::string& scheme, const std::string& more) {
  if (scheme.empty()) return std::nullopt;
  return os::URL::parse(scheme + "://platformId=wechat" + (more.empty() ? "" : "/" + more));
}

bool WeChatApiUtil::isWXAppSupportApi() { return isAppInstalledWithCatchException("wechat"); }

std::optional<std::string> WeChatApiUtil::internalGetSDKVersion() {
  auto board = os::Pasteboard::pasteboardWithName("wechat_sdk_infomation", false);
  if (!board) return std::nullopt;
  auto list = propertyListFromData(board->dataForPasteboardType("content"));
  if (!list) return std::nullopt;
  if (const std::string* version = (*list)["version"].string()) return *version;
  return std::nullopt;
}

std::string WeChatApiUtil::getSDKVersion() {
  if (auto version = internalGetSDKVersion()) return *version;
  return isWXAppSupportApi() ? "1.0" : "";
}
