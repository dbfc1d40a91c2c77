#pragma once
// Shared utilities of the messenger client: the system version and screen tests, property-list
// conversion, the URL forms of both sides and the install probes.
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/URL.h"
#include "os/core/Value.h"

class WeChatApiUtil {
 public:
  // The system version's leading decimal number is above 6.9. Records then travel on the general
  // pasteboard; older systems use the named ones.
  static bool isiOS7plus();
  // The main screen's scale is exactly 2.0.
  static bool is2xScreen();

  static std::optional<os::Value> propertyListFromData(const std::optional<os::Data>& data);
  // Binary property list; none when the value cannot be written.
  static std::optional<os::Data> dataFromPropertyList(const os::Value& propertyList);

  // "weixin://app/<app id>/", followed by the path when it is non-empty; none for no app id.
  static std::optional<os::URL> getWeChatUrl(const std::string& appId, const std::string& extraUrl = {});
  // "<scheme>://"; none for no scheme.
  static std::optional<os::URL> getAppUrl(const std::string& scheme);
  // The URL's full text begins with "<app id>://"; false for no app id.
  static bool isAppOpenUrl(const os::URL& url, const std::string& appId);
  // The platform can open "<scheme>://"; false when the probe raises.
  static bool isAppInstalledWithCatchException(const std::string& scheme);
  static bool isAppInstalledWithoutCatchException(const std::string& scheme);
  // The platform opened "<scheme>://".
  static bool launchApp(const std::string& scheme);
  // "<scheme>://platformId=wechat", then "/" and `more` when it is non-empty.
  static std::optional<os::URL> getAppUrlWithPlatformId(const std::string& scheme, const std::string& more = {});
  // The platform can open "wechat://".
  static bool isWXAppSupportApi();
  // The "version" the messenger wrote on "wechat_sdk_infomation", when that pasteboard exists.
  static std::optional<std::string> internalGetSDKVersion();
  // That version; else "1.0" when isWXAppSupportApi(), else "".
  static std::string getSDKVersion();
};
