#pragma once
// The callbacks of the QQ login session. Every operation is optional: the empty default is
// "not implemented". Where the session falls back to someone else when a receiver does not
// implement an operation, the operation answers whether it took the call (default: no).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "qqconnect_core/login/APIResponse.h"
#include "os/core/Value.h"

namespace os {
class ViewController;
}

class VelmoraLoginDelegate {
 public:
  virtual ~VelmoraLoginDelegate() = default;
  virtual void velmoraDidLogin() {}
  // cancelled: the reader gave up; otherwise the login failed.
  virtual void velmoraDidNotLogin(bool cancelled) {}
  virtual void velmoraDidNotNetWork() {}
  // The action a login reports when it succeeds; a login that falls back to the web page is told
  // to report none.
  virtual void setReportAction(std::optional<std::string> action) {}
  // Replaces the permissions of a login when it answers some.
  virtual std::optional<std::vector<std::string>> getAuthorizedPermissions(
      const std::vector<std::string>& permissions, const std::optional<os::Dictionary>& extraParams) {
    return std::nullopt;
  }
};

class VelmoraOAuth;

class VelmoraSessionDelegate : public VelmoraLoginDelegate, public VelmoraApiInterfaceDelegate {
 public:
  using Response = std::shared_ptr<APIResponse>;
  // Whether a call refused for want of permissions should still reach its receiver; nothing
  // means "not implemented" (the answer is delivered).
  virtual std::optional<bool> velmoraNeedPerformIncrAuth(VelmoraOAuth&, const std::vector<std::string>&) {
    return std::nullopt;
  }
  virtual std::optional<bool> velmoraNeedPerformReAuth(VelmoraOAuth&) { return std::nullopt; }
  virtual void velmoraDidUpdate(VelmoraOAuth&) {}
  // 1 failed, 2 cancelled, 3 no network.
  virtual void velmoraFailedUpdate(int reason) {}
  // Whether the receiver implements velmoraDidUpdate: (the two questions above need both).
  virtual bool handlesUpdates() const { return false; }
  virtual void getUserInfoResponse(const Response&) {}
  virtual void getListAlbumResponse(const Response&) {}
  virtual void getListPhotoResponse(const Response&) {}
  virtual void checkPageFansResponse(const Response&) {}
  virtual void addShareResponse(const Response&) {}
  virtual void addAlbumResponse(const Response&) {}
  virtual void uploadPicResponse(const Response&) {}
  virtual void addOneBlogResponse(const Response&) {}
  virtual void addTopicResponse(const Response&) {}
  virtual void setUserHeadpicResponse(const Response&) {}
  virtual void getVipInfoResponse(const Response&) {}
  virtual void getVipRichInfoResponse(const Response&) {}
  virtual void matchNickTipsResponse(const Response&) {}
  virtual void getIntimateFriendsResponse(const Response&) {}
  virtual void velmoraOAuthDidSendBodyData(VelmoraOAuth&, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                           std::int64_t totalBytesExpectedToWrite, const os::Value& userData) {}
  // The head-picture screen is closing after the reader cancelled it.
  virtual void velmoraOAuthDoCloseViewController(VelmoraOAuth&, const std::shared_ptr<os::ViewController>& screen) {}
  // Whether it took the call; the argument of logout gets it otherwise.
  virtual bool velmoraDidLogout() { return false; }
  // The answer of a QZone command, by the operation name the command gives ("AppGiftRequest"
  // gives "appGiftRequestResponse:"). Whether it took it; responseDidReceived gets it otherwise.
  virtual bool apiCommandResponse(const std::string& selectorName, const std::shared_ptr<APIResponse>& response) {
    return false;
  }
  virtual bool sendStoryResponse(const std::shared_ptr<APIResponse>& response) { return false; }
  virtual void responseDidReceived(const std::shared_ptr<APIResponse>& response, const std::string& message) {}
};
