#pragma once
// The callbacks of the QQ login session. Every operation is optional: the empty default is
// "not implemented". Where the session falls back to someone else when a receiver does not
// implement an operation, the operation answers whether it took the call (default: no).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/apptoapp/VelmoraApiInterface.h"
#include "qqconnect/core/login/APIResponse.h"
#include "os/core/Value.h"

class VelmoraLoginDelegate {
 public:
  virtual ~VelmoraLoginDelegate() = default;
  virtual void velmoraDidLogin() {}
  // cancelled: the reader gave up; otherwise the login failed.
  virtual void velmoraDidNotLogin(bool cancelled) {}
  virtual void velmoraDidNotNetWork() {}
  // Replaces the permissions of a login when it answers some.
  virtual std::optional<std::vector<std::string>> getAuthorizedPermissions(
      const std::vector<std::string>& permissions, const std::optional<os::Dictionary>& extraParams) {
    return std::nullopt;
  }
};

class VelmoraSessionDelegate : public VelmoraLoginDelegate, public VelmoraApiInterfaceDelegate {
 public:
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
