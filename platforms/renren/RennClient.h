#pragma once
// The public face of the Renren client: configuration, login and logout, the stored token and
// user id, and API calls. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/URL.h"
#include "platforms/renren/RennAccessToken.h"
#include "platforms/renren/RennLoginDelegate.h"
#include "platforms/renren/RennParam.h"
#include "platforms/renren/RennService.h"

class RennClient {
 public:
  static void initWithAppId(std::string appId, std::string apiKey, std::string secretKey);
  // "bearer" or "mac".
  static void setTokenType(std::optional<std::string> type);
  static void setScope(std::optional<std::string> scope);
  static void enableSSO(bool enable);
  static bool handleOpenURL(const os::URL& url);
  static void loginWithDelegate(std::weak_ptr<RennLoginDelegate> delegate);
  static void cancelLogin();
  static void logoutWithDelegate(std::weak_ptr<RennLoginDelegate> delegate);
  static void cancelLogout();
  static void quickRegister(std::weak_ptr<RennLoginDelegate> delegate);

  // The stored token; none when there is none.
  static std::optional<RennAccessToken> accessToken();
  // Replaces the stored token and user id; none erases both.
  static void setAccessToken(const std::optional<RennAccessToken>& token);
  static std::optional<std::string> uid();
  static bool isLogin();
  // A "mac" token never expires; a bearer one once the time passes request time + lifetime
  // (whole seconds); no token counts as expired.
  static bool isAuthorizeExpired();
  static bool isAuthorizeValid();

  // Starts the call; the service reports to the delegate on the main thread.
  static std::shared_ptr<RennService> sendAsynRequest(const RennParam& param,
                                                      std::weak_ptr<RennServiveDelegate> delegate);
  // Cancels every pending call of the delegate.
  static void cancelForDelegate(const RennServiveDelegate* delegate);

  // The calls in flight.
  static std::vector<std::shared_ptr<RennService>>& serviceArray();
  static void removeService(const std::shared_ptr<RennService>& service);
};
