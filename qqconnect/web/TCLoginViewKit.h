#pragma once
// The web login: the platform's "m_authorize" page, shown in the kit's own window or handed to an
// external browser, watched for the redirect that carries the token; an external browser's
// redirect comes back through the application's own URL scheme.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect_core/web/TCWebViewKit.h"
#include "os/core/Date.h"
#include "os/core/Value.h"

class TCLoginViewKit;
class VelmoraLoginDelegate;

// Every operation optional; held weakly. A null error means the reader cancelled.
class TCLoginViewDelegate {
 public:
  virtual ~TCLoginViewDelegate() = default;
  virtual void loginViewKitDidSucceedLogin(TCLoginViewKit&, const std::optional<std::string>& serial) {}
  virtual void loginViewKitDidFailuredWithError(TCLoginViewKit&, const std::optional<os::Error>& error,
                                                const std::optional<std::string>& serial) {}
};

// The platform's fixed addresses; configuration here.
struct TCLoginEndpoints {
  std::string authorizeBase = "https://openmobile.velmora.example/oauth2.0/";  // + "m_authorize"
  std::string defaultRedirectURI = "http://www.velmora.example";
  std::string callbackHost = "tauth.velmora.example";
};

class TCLoginViewKit : public TCWebViewKit, public TCWebViewKitDelegate {
 public:
  static std::shared_ptr<TCLoginViewKit> initWithAppId(std::string appId, std::string redirectURI,
                                                       std::vector<std::string> permissions,
                                                       std::weak_ptr<TCLoginViewDelegate> loginDelegate,
                                                       TCLoginEndpoints endpoints = {});

  bool open() { return openWithExtraParams(std::nullopt); }
  bool openWithExtraParams(const std::optional<os::Dictionary>& extraParams);
  bool openWithSafari() { return openWithSafariAndExtraParams(std::nullopt); }
  bool openWithSafariAndExtraParams(const std::optional<os::Dictionary>& extraParams);
  bool canHandleOpenURL(const std::optional<std::string>& url) const;
  bool handleOpenURL(const std::optional<std::string>& url);

  static std::string generateUrlString(const std::string& base, const std::optional<os::Dictionary>& params);
  static os::Dictionary parseURLParams(const std::string& query);
  void setAuthorData(std::string appId, std::string redirectURI, std::vector<std::string> permissions);
  void clearData();
  void cleanUp();
  static bool isNewQQBrowserInstall();
  static bool isOldQQBrowserInstall();

  const std::optional<std::string>& accessToken() const { return accessToken_; }
  const std::optional<std::string>& openId() const { return openId_; }
  const std::optional<os::Date>& expirationDate() const { return expirationDate_; }
  const std::optional<std::string>& encryToken() const { return encryToken_; }
  const std::optional<os::Dictionary>& passData() const { return passData_; }
  const std::string& redirectURI() const { return redirectURI_; }
  const std::optional<std::string>& serial() const { return serial_; }
  void setSerial(std::optional<std::string> s) { serial_ = std::move(s); }
  void setNewloginDelegate(std::weak_ptr<VelmoraLoginDelegate> d) { newloginDelegate_ = std::move(d); }
  void setExtraParams(std::optional<os::Dictionary> p) { extraParams_ = std::move(p); }
  bool isUseSafari() const { return isUseSafari_; }
  unsigned loginCount() const { return loginCount_; }
  std::string getOwnBaseUrl() const;

  // TCWebViewKitDelegate
  void webViewKitDidFinishedWithError(TCWebViewKit&, const std::optional<os::Error>& error) override;
  void webViewKitDidLoadWithNetworkError(TCWebViewKit&, const os::Error& error) override;
  bool webViewKitShouldStartLoadWithRequest(TCWebViewKit&, const os::URLRequest& request,
                                            os::WebViewNavigationType type) override;

  struct PrivateTag {};
  TCLoginViewKit(PrivateTag, TCLoginEndpoints endpoints) : endpoints_(std::move(endpoints)) {}

 private:
  std::string strippedRedirectURI();
  std::string authorizeURL() const { return endpoints_.authorizeBase + "m_authorize"; }
  bool isRedirect(const os::URL& url) const;
  bool isCallback(const os::URL& url) const;
  void closeLater();
  std::shared_ptr<TCLoginViewKit> self() { return std::static_pointer_cast<TCLoginViewKit>(shared_from_this()); }

  TCLoginEndpoints endpoints_;
  bool isUseSafari_ = false;
  bool isBrowserError_ = false;
  bool isUserCancel_ = false;
  unsigned loginCount_ = 0;
  std::optional<std::string> accessToken_, openId_;
  std::optional<os::Date> expirationDate_;
  std::string appId_;
  std::string redirectURI_;
  std::vector<std::string> permissions_;
  std::weak_ptr<TCLoginViewDelegate> loginDelegate_;
  std::optional<os::Dictionary> extraParams_;
  std::optional<std::string> encryToken_;
  std::optional<os::Dictionary> passData_;
  std::weak_ptr<VelmoraLoginDelegate> newloginDelegate_;
  std::optional<std::string> serial_;
  std::optional<std::string> errorUrl_;
  // Pending external logins: serial -> token key.
  std::map<std::string, std::string> loginDict_;
  std::string openedURL_;
};
