#pragma once
// The Renren login: single sign-on through the Renren application when it is installed and the
// host application registered its callback scheme, else the web login dialog; the reply of
// single sign-on; logout; quick registration.
#include <memory>
#include <optional>
#include <string>

#include "os/core/URL.h"
#include "platforms/renren/RennLoginDelegate.h"

class RennAuthorizeView;

// Where the network lives. Every host is configuration (tests route them to loopback servers).
struct RennHosts {
  std::string oauthHost = "oauth.renren.example";
  std::string apiHost = "api.renren.example";
  std::string mobileHost = "m.renren.example";
};

inline constexpr const char* kRennSDKVersion = "5.0.0";
inline constexpr const char* kRennAPIVersion = "2.0";

class RennLoginService {
 public:
  static RennLoginService& sharedRennLoginService();

  // True when the URL was the reply of a single sign-on this service is waiting for.
  bool handleOpenURL(const os::URL& url);
  void login();
  void logout();
  bool canLaunchRenrenSSO() const;
  std::optional<os::URL> getSSOUrl();
  void quickRegister();

  const std::string& appId() const { return appId_; }
  void setAppId(std::string v) { appId_ = std::move(v); }
  const std::string& apiKey() const { return apiKey_; }
  void setApiKey(std::string v) { apiKey_ = std::move(v); }
  const std::optional<std::string>& scope() const { return scope_; }
  void setScope(std::optional<std::string> v) { scope_ = std::move(v); }
  const std::string& secretKey() const { return secretKey_; }
  void setSecretKey(std::string v) { secretKey_ = std::move(v); }
  const std::optional<std::string>& tokenType() const { return tokenType_; }
  void setTokenType(std::optional<std::string> v) { tokenType_ = std::move(v); }
  bool enableSSO() const { return enableSSO_; }
  void setEnableSSO(bool v) { enableSSO_ = v; }
  std::shared_ptr<RennLoginDelegate> delegate() const { return delegate_.lock(); }
  // Replacing or clearing the delegate also gives up a single sign-on still waiting.
  void setDelegate(std::weak_ptr<RennLoginDelegate> d);
  const RennHosts& hosts() const { return hosts_; }
  void setHosts(RennHosts h) { hosts_ = std::move(h); }
  // A single sign-on was started and its reply has not come.
  bool isWaitingForSSO() const { return waitingForSSO_; }

  // "http://<oauth host>/oauth/login_success.html": where the web login ends.
  std::string successPage() const;

 private:
  RennLoginService() = default;
  std::string callbackScheme() const;
  void startLogin();
  void startQuickRegister();
  void showAuthorizeView(os::Dictionary params, const std::string& address);

  bool enableSSO_ = true;
  std::string appId_, apiKey_;
  std::optional<std::string> scope_;
  std::string secretKey_;
  std::optional<std::string> tokenType_;
  std::weak_ptr<RennLoginDelegate> delegate_;
  RennHosts hosts_;
  bool waitingForSSO_ = false;
  // The web login dialog last shown; it lives on screen, not here.
  std::weak_ptr<RennAuthorizeView> authorizeView_;
};
