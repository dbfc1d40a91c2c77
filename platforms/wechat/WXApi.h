#pragma once
// The public face of the messenger client: registers this application with the messenger on the
// same device, probes for it, sends it requests (share, log in, pay, open a business account) and
// takes its answers when it opens this application again. The two applications never talk over
// the network: a request is a message record on a pasteboard followed by the opening of a
// "weixin://app/<app id>/..." URL; the messenger answers by opening the URL scheme that equals
// the app id, with the answer in the URL's query or in a record left on the pasteboard.
//
// Main thread only. The app id and the conversation account are kept for the process.
#include <memory>
#include <optional>
#include <string>

#include "os/core/URL.h"
#include "os/core/Value.h"
#include "platforms/wechat/WXRequests.h"
#include "platforms/wechat/WXResponses.h"

// Both operations are optional.
class WXApiDelegate {
 public:
  virtual ~WXApiDelegate() = default;
  // A ShowMessageFromWXReq, GetMessageFromWXReq or LaunchFromWXReq.
  virtual void onReq(const std::shared_ptr<BaseReq>& request) {}
  // A SendMessageToWXResp, SendAuthResp or PayResp.
  virtual void onResp(const std::shared_ptr<BaseResp>& response) {}
};

class WXApi {
 public:
  // False for an empty app id; otherwise keeps it and writes the registration entry.
  static bool registerApp(const std::string& appId);
  static bool registerApp(const std::string& appId, const std::optional<std::string>& description);
  // The platform can open "weixin://app/<app id>/"; false before any registration.
  static bool isWXAppInstalled();
  static bool isWXAppSupportApi();
  static std::string getWXAppInstallUrl();
  static std::string getApiVersion();
  static bool openWXApp();
  // Pieces split at "&", then at "=": key before the first, value up to a second. Taken as they
  // stand, without decoding; a later key replaces an earlier one; a piece without "=" is skipped.
  static os::Dictionary parseURLParams(const std::optional<std::string>& query);
  static bool handleAuthOpenUrl(const os::URL& url, WXApiDelegate* delegate);
  static bool handlePayOpenUrl(const os::URL& url, WXApiDelegate* delegate);
  // True when the URL was the messenger's and was handled. Nothing is read without a delegate.
  static bool handleOpenURL(const os::URL& url, WXApiDelegate* delegate);
  static std::optional<os::URL> packReq(const std::shared_ptr<BaseReq>& request);
  static std::optional<os::URL> packResp(const std::shared_ptr<BaseResp>& response);
  static bool auth(const std::shared_ptr<SendAuthReq>& request);
  static bool pay(const std::shared_ptr<PayReq>& request);
  static bool openProfile(const std::shared_ptr<JumpToBizProfile>& request);
  static bool jumpToBizWebview(const std::shared_ptr<JumpToBizWebview>& request);
  // Each answers whether the URL was opened.
  static bool sendReq(const std::shared_ptr<BaseReq>& request);
  static bool sendResp(const std::shared_ptr<BaseResp>& response);
  static bool safeSendReq(const std::shared_ptr<BaseReq>& request);

 private:
  struct State;
  static State& state();
  static bool open(const std::optional<os::URL>& url);
};
