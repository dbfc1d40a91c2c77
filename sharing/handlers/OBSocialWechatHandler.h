#pragma once
// The sharing component's messenger handler: the application gives it its messenger identity and
// the link shared messages open; it adds the messenger's session, timeline and favourite
// platforms, sends a share to the messenger application and reports the messenger's answer to
// the share screens' UI delegate. Configuring it is also written to the process's
// ServiceCallLog under "OBSocialWechatHandler".
#include <memory>
#include <optional>
#include <string>

#include "platforms/wechat/WXApi.h"
#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"

class OBSocialControllerService;

// Shared messages open this when the application gives no link of its own.
inline constexpr const char* kOBSocialWechatDefaultURL = "http://m.example.cn/";

class OBSocialWechatHandler : public OBSocialSnsHandlerDelegate,
                              public WXApiDelegate,
                              public std::enable_shared_from_this<OBSocialWechatHandler> {
 public:
  static std::shared_ptr<OBSocialWechatHandler> shareInstance();
  // The messenger application id and secret, and the link shared messages open (a default link
  // when none is given); adds the messenger session, timeline and favourite platforms.
  static void setWXAppId(const std::string& appId, const std::string& appSecret, const std::optional<std::string>& url);

  void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                               const std::shared_ptr<OBSocialControllerService>& service) override;
  bool isClientInstall(const std::string& platformName) override;
  bool checkUrlSchema() override;
  bool handleOpenURL(const os::URL& url) override;
  void onResp(const std::shared_ptr<BaseResp>& response) override;

  std::optional<std::string> appId, appSecret, url;

 private:
  std::weak_ptr<OBSocialControllerService> service_;
  std::string sharing_;
  std::optional<std::string> shareText_;
};
