#pragma once
// The sharing component's messenger handler: the application gives it its messenger identity and
// the link shared messages open; it adds the messenger's session, timeline and favourite
// platforms, lists the session and timeline for the icon sheet, sends a share to the messenger
// application (the kind of message the share data asks for) and reports the messenger's answer
// to the share screens' UI delegate. It also signs in through the messenger: a login's
// completion hears 200 with the authorisation code ({platform: {"code", "state"}}), or the
// messenger's refusal. A share the messenger says went out is shown as finished, as the other
// platforms' are. Configuring it is also written to the process's ServiceCallLog under
// "OBSocialWechatHandler".
#include <memory>
#include <optional>
#include <string>

#include "platforms/wechat/WXApi.h"
#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"

class OBSocialControllerService;
class OBSocialUIDelegate;
class OBSocialData;
class OBSocialResponseEntity;

// Shared messages open this when the application gives no link of its own.
inline constexpr const char* kOBSocialWechatDefaultURL = "http://m.example.cn/";
// The permission a messenger login asks for.
inline constexpr const char* kOBSocialWechatLoginScope = "snsapi_userinfo";

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
  void loginWithController(const std::shared_ptr<os::ViewController>& controller, OBSocialCompletion completion,
                           const std::string& platformName) override;
  bool isClientInstall(const std::string& platformName) override;
  bool checkUrlSchema() override;
  bool handleOpenURL(const os::URL& url) override;
  bool awaitsAnswer() const override { return awaitingShare_ || loginCompletion_; }
  void onResp(const std::shared_ptr<BaseResp>& response) override;

  std::optional<std::string> appId, appSecret, url;

 private:
  // The request a share of the data to the platform sends: text, picture, application content,
  // the caller's own media object or, by default, the link as a web page. Gives the share text for
  // the record made once the messenger says the share went out.
  std::shared_ptr<SendMessageToWXReq> shareRequest(const std::shared_ptr<OBSocialData>& data, const std::string& platformName,
                                                   std::optional<std::string>& text);
  // A share still waiting for the messenger's answer when another is asked for: the messenger
  // will answer only the newer, so the older's caller hears at once that its share ended unheard.
  void answerReplacedShare();
  // Waits at the dispatcher again after an answer while a share or a login is still unanswered.
  void keepWaiting();
  // Hands the login's completion its result once.
  void finishLogin(const std::shared_ptr<OBSocialResponseEntity>& response);

  // Held until the messenger has answered: whoever asked for the share may have let go of it.
  std::shared_ptr<OBSocialControllerService> service_;
  // The caller the share was asked for: the messenger's answer goes to it, whoever the service's
  // UI delegate is by then.
  std::weak_ptr<OBSocialUIDelegate> caller_;
  std::string sharing_;
  std::optional<std::string> shareText_;
  bool awaitingShare_ = false;  // a share went to the messenger and its answer has not come
  OBSocialCompletion loginCompletion_;
  std::optional<std::string> loginName_;
};
