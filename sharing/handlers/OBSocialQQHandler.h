#pragma once
// The sharing component's QQ and QZone handler. The application gives it its QQ identity and the
// link of what it shares before each share; it adds the "qq" platform, wires "qzone" to itself,
// hands shares to the QQ application, logs the reader in through the QQ Connect session and
// reports the QQ application's answers to the share screens' UI delegate. Configuring it is also
// written to the process's ServiceCallLog under "OBSocialQQHandler".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platforms/qq/QQApi.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "qqconnect/login/VelmoraSessionDelegate.h"
#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"

class OBSocialControllerService;
class OBSocialUIDelegate;
class OBSocialSnsPlatform;

// The QQ application cuts longer titles and descriptions: the handler cuts them first.
inline constexpr std::size_t kOBSocialQQTitleCharacters = 128;
inline constexpr std::size_t kOBSocialQQDescriptionCharacters = 512;

class OBSocialQQHandler : public OBSocialSnsHandlerDelegate,
                          public VelmoraSessionDelegate,
                          public QQApiInterfaceDelegate,
                          public std::enable_shared_from_this<OBSocialQQHandler> {
 public:
  static std::shared_ptr<OBSocialQQHandler> shareInstance();

  // The QQ application id and key (either may be missing) and the default link of QQ shares;
  // adds the QQ platform and wires QZone to this handler. Every call sets it all up again.
  static void setQQWithAppId(const std::optional<std::string>& appId, const std::optional<std::string>& appKey,
                             const std::optional<std::string>& url);
  // A QZone login without a QQ or QZone application able to sign on goes to the component's own
  // web authorisation instead.
  static void setSupportWebView(bool on);
  static void setSupportQzoneSSO(bool on);
  // The 22 permissions a QQ login asks for.
  static const std::vector<std::string>& permissions();

  // A fresh "qq" descriptor; the handler does not keep it.
  std::shared_ptr<OBSocialSnsPlatform> getQQPlatform();
  // Gives the registered "qzone" platform the share through the QQ application.
  void shareToQzoneWithAppId(const std::optional<std::string>& appId, const std::optional<std::string>& url);
  // The "key" of the application information's "qzone" entry.
  std::optional<std::string> qzoneAppId();

  void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                               const std::shared_ptr<OBSocialControllerService>& service) override;
  void loginWithController(const std::shared_ptr<os::ViewController>& controller, OBSocialCompletion completion,
                           const std::string& platformName) override;
  void logOut();
  bool isClientInstall(const std::string& platformName) override;
  bool checkUrlSchema() override;
  bool needAuthorize() override { return false; }
  // "velmora…" goes to the QQ Connect session, "QQ…" to the QQ client; anything else is not ours.
  bool handleOpenURL(const os::URL& url) override;
  bool awaitsAnswer() const override { return awaitingShare_ || completion_; }

  void onReq(const std::shared_ptr<QQBaseReq>&) override {}
  void onResp(const std::shared_ptr<QQBaseResp>& response) override;

  void velmoraDidLogin() override;
  void velmoraDidNotLogin(bool cancelled) override;
  void velmoraDidNotNetWork() override;

  std::shared_ptr<OBSocialControllerService> socialController;
  // The caller the share was asked for: the QQ client's answer goes to it, whoever the service's
  // UI delegate is by then.
  std::weak_ptr<OBSocialUIDelegate> socialCaller;
  bool supportQzoneWebView = false;
  std::optional<std::string> qqAppId, qqAppKey, qqUrl;
  std::shared_ptr<VelmoraOAuth> velmoraQQ;
  std::optional<std::string> snsName;
  // Where the QQ Connect sessions this handler makes reach the QQ portal.
  VelmoraOAuthEndpoints endpoints;

 private:
  void compareAppInfo(const os::Value& entry);
  // A share still waiting for QQ's answer when another is asked for: QQ will answer only the
  // newer, so the older's caller hears at once that its share ended unheard.
  void answerReplacedShare();
  std::optional<std::string> awaitingShare_;  // the platform of the share whose answer QQ owes
  // The awaited share's send while it waits on its preview picture: its end is heard through it.
  std::shared_ptr<QQApiLaterSend> laterSend_;
  // The end of a share's send made once its preview picture came: a send that failed ends the
  // share, as one that fails at once does.
  void laterSendEnded(const std::shared_ptr<QQApiLaterSend>& send, std::int32_t code);
  // The login's completion, handed out once.
  OBSocialCompletion takeCompletion();

  OBSocialCompletion completion_;
  // Counts the logins asked for: a login whose start failed ends only if no other began meanwhile.
  std::uint64_t loginSerial_ = 0;
};
