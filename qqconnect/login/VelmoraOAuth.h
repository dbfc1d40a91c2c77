#pragma once
// The QQ Connect session: one per application id. It logs the reader in through the QQ
// application (single sign-on) or the authorisation web page, keeps the token, open id and
// expiry in memory, routes the URLs other applications open the host with, and reports through
// its session delegate.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/analytics/ConfigManager.h"
#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect/login/VelmoraSessionDelegate.h"
#include "qqconnect/requests/TCAPIRequest.h"
#include "qqconnect/requests/TCOSDKReachability.h"
#include "qqconnect/web/TCLoginViewKit.h"
#include "qqconnect/web/TCUiKit.h"
#include "qqconnect_core/requests/APIBase.h"
#include "os/core/Date.h"
#include "os/core/Value.h"

namespace os {
class Timer;
}

// Where the session reaches the QQ portal; every address is configuration.
struct VelmoraOAuthEndpoints {
  // The web login's redirect host and the host whose reachability a web login watches.
  std::string portalHost = "openmobile.velmora.example";
  // The OpenAPI base, ending in "/".
  std::string openApiBase = "https://openmobile.velmora.example/";
  // The authorisation page and its redirect hosts.
  TCLoginEndpoints loginPage;
  // The online policy CGI and the action-report CGI. Policy and reports are the process's, so
  // the session created last decides where they go.
  std::string policyURL = ConfigManager::kDefaultPolicyURL;
  std::string reportURL = TCDataReport::kDefaultReportURL;
};

inline constexpr const char* kVelmoraConfigAlertTitle = "配置错误";
inline constexpr const char* kVelmoraConfigAlertMessage = "应用工程配置错误，scheme没有配置，请参考SDK使用文档";
inline constexpr const char* kVelmoraNetworkAlertTitle = "网络错误";
inline constexpr const char* kVelmoraNetworkAlertMessage = "网络连接不可用。";
inline constexpr const char* kVelmoraAlertButton = "我知道啦";

// The members of an open id answer, unwrapped from its "callback( ... );" form; nothing when it
// holds none.
std::optional<os::Dictionary> VelmoraOpenIdAnswer(const APIResponse& response);

class VelmoraOAuth : public VelmoraSessionDelegate,
                     public APIBaseSession,
                     public APIBaseDelegate,
                     public TCLoginViewDelegate,
                     public setHeadImageDelegate,
                     public TCWebViewKitDelegate,
                     public VelmoraRequestDelegate,
                     public std::enable_shared_from_this<VelmoraOAuth> {
 public:
  // Either form of application id; an id of neither form gives an inert session (no id, no
  // delegate, not registered).
  static std::shared_ptr<VelmoraOAuth> initWithAppId(const std::string& appId,
                                                     std::weak_ptr<VelmoraSessionDelegate> delegate,
                                                     VelmoraOAuthEndpoints endpoints = {});
  ~VelmoraOAuth() override;
  static std::string sdkVerison() { return "2.3"; }

  std::shared_ptr<VelmoraSessionDelegate> sessionDelegate() const { return sessionDelegate_.lock(); }
  void setSessionDelegate(std::weak_ptr<VelmoraSessionDelegate> delegate);

  // ---- session state ----
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  void setAccessToken(std::optional<std::string> v) { accessToken_ = std::move(v); }
  const std::optional<os::Date>& expirationDate() const { return expirationDate_; }
  void setExpirationDate(std::optional<os::Date> v) { expirationDate_ = v; }
  const std::optional<std::string>& openId() const { return openId_; }
  // Also registered with the QQ client.
  void setOpenId(std::optional<std::string> v);
  const std::optional<std::string>& appId() const { return appId_; }
  const std::vector<std::string>& permissions() const { return permissions_; }
  void setPermissions(std::vector<std::string> v) { permissions_ = std::move(v); }
  const std::optional<std::string>& localAppId() const { return localAppId_; }
  const std::string& redirectURI() const { return redirectURI_; }
  const std::optional<os::Dictionary>& passData() const { return passData_; }
  void setPassData(std::optional<os::Dictionary> v) { passData_ = std::move(v); }
  const std::optional<std::string>& encryToken() const { return encryToken_; }
  void setEncryToken(std::optional<std::string> v) { encryToken_ = std::move(v); }
  const std::optional<std::string>& userNick() const { return userNick_; }
  const VelmoraOAuthEndpoints& endpoints() const { return endpoints_; }
  bool isSessionValid() const;
  bool isOpenIdValid() const { return openId_.has_value(); }
  std::string getOwnBaseUrl() const;

  // ---- login ----
  // The host's flag is not consulted: where the web page opens is the login kit's choice.
  bool authorize(const std::vector<std::string>& permissions, const std::optional<std::string>& localAppId, bool inSafari);
  bool authorize(const std::vector<std::string>& permissions, bool inSafari);
  bool authorizeWithPermissions(std::vector<std::string> permissions, const std::optional<os::Dictionary>& extraParams,
                                std::shared_ptr<VelmoraLoginDelegate> delegate, bool inSafari);
  bool authorizeWithVelmoraAppAuthInSafari(bool inSafari, const std::vector<std::string>& permissions,
                                           const std::optional<os::Dictionary>& extraParams,
                                           std::shared_ptr<VelmoraLoginDelegate> delegate);
  // Asks the server first whether the stored session is still good; a new login otherwise.
  bool authorize(const std::vector<std::string>& permissions);
  void logout(const std::shared_ptr<VelmoraSessionDelegate>& fallback);

  // The open id of a web login that delivered none; the login waiting under `serial` hears the
  // outcome. False when nothing was sent.
  bool getOpenId(const std::string& serial);
  // The web logins in flight by serial.
  std::map<std::string, std::shared_ptr<VelmoraLoginDelegate>>& loginDict() { return loginDict_; }
  bool userGetUserInfo() const { return userGetUserInfo_; }
  void setUserGetUserInfo(bool v) { userGetUserInfo_ = v; }
  // The pending OpenAPI calls by sequence number.
  const std::map<std::string, std::shared_ptr<APIBase>>& apiRequests() const { return apiRequests_; }
  void deleteAPIRequestBySeq(const std::string& seq) override { apiRequests_.erase(seq); }

  // ---- network watch of the web login ----
  bool StartNotifyNetWork();
  void StopNotifyNetWork();
  void onTimer();
  const std::shared_ptr<TCOSDKReachability>& reachHost() const { return reachHost_; }

  // "k=v&..." with each value percent-unescaped; parts without "=" are skipped.
  static os::Dictionary parseURLParams(const std::string& query);

  // ---- install probes ----
  static bool iphoneQQInstalled();
  static bool iphoneQQSupportSSOLogin();
  static bool iphoneQZoneInstalled();
  static bool iphoneQZoneSupportSSOLogin();

  // ---- URLs ----
  static bool HandleOpenURL(const std::optional<std::string>& url);
  static bool CanHandleOpenURL(const std::optional<std::string>& url);
  bool handleOpenURL(const std::optional<std::string>& url);
  bool oldCanhandleOpenURL(const std::optional<std::string>& url) const;

  // ---- OpenAPI operations (each NO without a valid session and open id) ----
  bool getUserInfo();
  bool getListAlbum();
  bool getListPhotoWithParams(const os::Dictionary& params);
  bool addShareWithParams(const os::Dictionary& params);
  bool uploadPicWithParams(VelmoraParams params);
  bool addAlbumWithParams(const os::Dictionary& params);
  bool addOneBlogWithParams(const os::Dictionary& params);
  bool checkPageFansWithParams(const os::Dictionary& params);
  bool addTopicWithParams(const os::Dictionary& params);
  bool getVipInfo();
  bool getVipRichInfo();
  bool matchNickTips(const os::Dictionary& params);
  bool getIntimateFriends(const os::Dictionary& params);
  // The first pending call carrying this user data is cancelled: its receiver hears nothing.
  bool cancel(const os::Value& userData);
  void cancelWithRequestKey(const std::optional<std::string>& key);

  // A story to the reader's QZone: through the QZone application, or its web page when QZone is
  // too old. The title must not be blank; NO when the page is needed and missing.
  bool sendStory(const os::Dictionary& params, const std::vector<os::Value>& friendList);
  // The web dialogs report back by opening "velmora" + app id + "://" + message + "/success",
  // "/cancel" or "/fail"; another path ends the dialog as "/fail" does. Each dialog is answered
  // once: one closed without an answer, or replaced by the next, ends as "/cancel" does.
  bool webViewKitShouldStartLoadWithRequest(TCWebViewKit& kit, const os::URLRequest& request,
                                            os::WebViewNavigationType type) override;
  void webViewKitDidFinishedWithError(TCWebViewKit& kit, const std::optional<os::Error>& error) override;

  // QZone commands; a check that fails shows an alert and answers NO, as does a missing page.
  bool sendAppInvitationWithDescription(std::optional<std::string> description, std::optional<std::string> imageURL,
                                        std::optional<std::string> source);
  bool sendChallenge(std::optional<std::string> receiver, std::optional<std::string> type,
                     std::optional<std::string> imageURL, std::optional<std::string> message,
                     std::optional<std::string> source);
  bool sendGiftRequest(std::optional<std::string> receiver, std::optional<std::string> exclude,
                       std::optional<std::string> specified, long only, std::optional<std::string> type,
                       std::optional<std::string> title, std::optional<std::string> message,
                       std::optional<std::string> imageURL, std::optional<std::string> source);
  // The digest the login statistics and the web pages carry.
  std::optional<std::string> localEncrytedToken() const;

  // ---- plain requests ----
  // Adds "format", "oauth_consumer_key", the token (while valid) and the open id, then sends.
  std::shared_ptr<VelmoraRequest> openUrl(const std::string& url, os::Dictionary params, const std::string& httpMethod,
                                          std::weak_ptr<VelmoraRequestDelegate> delegate);
  // Needs "method" among the parameters; it names the API after the base.
  std::shared_ptr<VelmoraRequest> requestWithParams(os::Dictionary params, std::weak_ptr<VelmoraRequestDelegate> delegate);
  std::shared_ptr<VelmoraRequest> requestWithMethodName(const std::string& method, os::Dictionary params,
                                                        const std::string& httpMethod,
                                                        std::weak_ptr<VelmoraRequestDelegate> delegate);
  std::shared_ptr<VelmoraRequest> requestWithGraphPath(const std::string& path, std::optional<os::Dictionary> params,
                                                       std::optional<std::string> httpMethod,
                                                       std::weak_ptr<VelmoraRequestDelegate> delegate);
  // A token from a dialog: the open id is fetched, then the login is reported.
  void velmoraDialogLogin(const std::string& token, os::Date expirationDate);
  void requestDidLoad(VelmoraRequest& request, const std::optional<os::Value>& result, const os::Data& data) override;
  // The open id fetch failed (no connection, an error answer): the dialog login ends unfinished.
  void requestDidFailWithError(VelmoraRequest& request, const os::Error& error) override;
  const std::shared_ptr<VelmoraRequest>& request() const { return request_; }

  // ---- head picture ----
  // "pic" (an image of at most 3264 × 2448 points) and "filename": opens the picker; a missing or
  // larger picture answers the delegate's setUserHeadpicResponse with 65536 at once.
  bool setUserHeadpic(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName);
  // The same, with the picker handed to the caller to present (`screen`) instead of a window.
  bool setUserHeadpic(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName,
                      std::shared_ptr<os::ViewController>& screen);
  std::int32_t didFinishedSetUserLocalPic(SetHeadImageViewController&, const std::shared_ptr<os::Image>& image,
                                          const std::string& fileName) override;
  // Closes the picker shortly after, telling the delegate first.
  void didCancelled(std::int32_t seq) override;
  void onTimerCloseTcWindow();
  const std::unique_ptr<TCUiKit>& tcUiKit() const { return tcUiKit_; }

  // ---- app-to-app, through VelmoraApiInterface ----
  static std::int32_t sendRespMessageToVelmoraApp(const std::shared_ptr<VelmoraApiResp>& resp);
  static std::optional<std::string> getVelmoraAppInstallUrl(std::int32_t platform);

  // ---- generic CGI requests ----
  std::shared_ptr<TCAPIRequest> cgiRequestWithURL(const std::string& url, const std::string& method,
                                                  const os::Dictionary& params,
                                                  std::weak_ptr<TCAPIRequestDelegate> callback);
  bool sendAPIRequest(const std::shared_ptr<TCAPIRequest>& request, std::weak_ptr<TCAPIRequestDelegate> callback);

  // ---- more permissions ----
  bool incrAuthWithPermissions(const std::vector<std::string>& permissions);
  bool reauthorizeWithPermissions(const std::vector<std::string>& permissions);
  // The calls ask this one; the delegate's form stays visible beside it.
  using VelmoraSessionDelegate::velmoraNeedPerformIncrAuth;
  bool velmoraNeedPerformIncrAuth(const std::optional<std::string>& reserved,
                                  const std::vector<std::string>& permissions) override;
  bool needPerformReAuth();
  void velmoraDidUpdate(VelmoraOAuth& session) override;
  void velmoraFailedUpdate(int reason) override;
  void apiBaseDidSendBodyData(APIBase& api, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                              std::int64_t totalBytesExpectedToWrite) override;

  // ---- the web login kit ----
  const std::shared_ptr<TCLoginViewKit>& loginViewKit() const { return loginViewKit_; }
  void loginViewKitDidSucceedLogin(TCLoginViewKit& kit, const std::optional<std::string>& serial) override;
  void loginViewKitDidFailuredWithError(TCLoginViewKit& kit, const std::optional<os::Error>& error,
                                        const std::optional<std::string>& serial) override;

  // ---- the session as its own login delegate: forwarded to the session delegate ----
  void velmoraDidLogin() override;
  void velmoraDidNotLogin(bool cancelled) override;
  void velmoraDidNotNetWork() override;

  struct PrivateTag {};
  VelmoraOAuth(PrivateTag, VelmoraOAuthEndpoints endpoints);

 private:
  void showNetworkAlert();
  bool userLoginStatis();
  void userLoginStatisResponse(const std::shared_ptr<APIResponse>& response);
  void getOpenIdResponse(const std::shared_ptr<APIResponse>& response);
  // Sends an OpenAPI call with the session as target and keeps it until its answer.
  using DelegateAnswer = void (VelmoraSessionDelegate::*)(const std::shared_ptr<APIResponse>&);
  struct GraphCallOptions {
    bool mapErrors = false;    // server codes become the client's error codes
    bool progress = false;     // upload progress goes to the delegate
    bool reportUsage = false;  // the analytics client hears of the API's use
  };
  bool graphCall(const std::string& path, const char* method, VelmoraParams params, DelegateAnswer answer,
                 GraphCallOptions options);
  bool canCall() const { return isSessionValid() && openId_.has_value(); }
  // The picker in a window of its own, or handed out through `screen`.
  bool showHeadPicker(const std::shared_ptr<os::Image>& picture, const std::optional<std::string>& fileName,
                      std::shared_ptr<os::ViewController>* screen);
  // Opens the client's "local.html" page with the parameters; false when the page is missing.
  bool openLocalPage(const os::Dictionary& params, const std::string& title);
  void answerDialog(const std::string& message, const std::shared_ptr<APIResponse>& response);
  void send(const std::shared_ptr<APIBase>& api, const std::string& url, const std::optional<std::string>& openId,
            VelmoraParams params);

  VelmoraOAuthEndpoints endpoints_;
  std::map<std::string, std::shared_ptr<APIBase>> apiRequests_;
  // Logouts so far, and the count each login request (the stored-login check, the open id) went
  // out under: a logout between a login's request and its answer ends that login unfinished.
  unsigned logouts_ = 0;
  std::map<std::string, unsigned> loginRequests_;
  bool loggedOutSince(const std::string& seq);
  std::optional<std::string> accessToken_;
  std::optional<os::Date> expirationDate_;
  std::weak_ptr<VelmoraSessionDelegate> sessionDelegate_;
  // Identity of the registered delegate, for unregistering after it is gone.
  const VelmoraSessionDelegate* registeredDelegate_ = nullptr;
  std::optional<std::string> localAppId_;
  std::optional<std::string> openId_;
  std::string redirectURI_;
  std::vector<std::string> permissions_;
  std::optional<std::string> userNick_;
  std::shared_ptr<TCOSDKReachability> reachHost_;
  std::shared_ptr<os::Timer> timer_;
  std::optional<std::string> appId_;
  std::optional<os::Dictionary> passData_;
  std::optional<std::string> encryToken_;
  std::map<std::string, std::shared_ptr<VelmoraLoginDelegate>> loginDict_;
  bool userGetUserInfo_ = true;
  std::shared_ptr<TCLoginViewKit> loginViewKit_;
  std::unique_ptr<TCUiKit> tcUiKit_;
  // The message of the web dialog still owed its answer.
  std::optional<std::string> dialogMessage_;
  std::shared_ptr<VelmoraRequest> request_;
  // Plain requests sent before request_ and still loading, each answering its own caller.
  std::vector<std::shared_ptr<VelmoraRequest>> earlierRequests_;
};
