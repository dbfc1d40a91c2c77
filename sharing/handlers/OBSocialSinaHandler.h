#pragma once
// The sharing component's Sina Weibo handler: with a redirect URL it becomes the login delegate
// of the "sina" platform, so that a login goes through the Sina Weibo application when that is
// installed and the application declares its "sina." URL scheme; otherwise the login stays on the
// sharing service's web page. The application answers on the "sina." scheme with the account
// ("access_token", "uid", "expires_in", optionally "user_name"), which is uploaded to the sharing
// service like a web login's. The call is also written to the process's ServiceCallLog under
// "OBSocialSinaHandler".
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"

class OBSocialAccountEntity;

class OBSocialSinaHandler : public OBSocialSnsHandlerDelegate {
 public:
  static std::shared_ptr<OBSocialSinaHandler> shareInstance();
  // Keeps the redirect URL and makes Sina Weibo logins try single sign-on first.
  static void openSSOWithRedirectURL(const std::string& redirectURL);

  const std::optional<std::string>& redirectURL() const { return redirectURL_; }

  bool isClientInstall(const std::string& platformName) override;
  bool checkUrlSchema() override;
  void loginWithController(const std::shared_ptr<os::ViewController>& controller, OBSocialCompletion completion,
                           const std::string& platformName) override;
  bool handleOpenURL(const os::URL& url) override;
  bool needAuthorize() override { return true; }
  // A login still waits for the application's answer.
  bool awaitsAnswer() const override { return static_cast<bool>(completion_); }

  // The account an answer's fields describe; none without a token and a user id, or with an error.
  static std::shared_ptr<OBSocialAccountEntity> accountOf(const std::map<std::string, std::string>& answer);

 private:
  std::optional<std::string> redirectURL_;
  OBSocialCompletion completion_;
};
