#pragma once
// The public class-level door to the reader's platform accounts: whether a platform is
// authorised and its token still valid, storing an account, and uploading accounts, custom
// accounts and application keys to the sharing service.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "sharing/service/OBSUserManager.h"

inline constexpr const char* kOBSocialLoginWithAnonymousKey = "loginWithAnonymous";

class OBSocialAccountManager {
 public:
  static OBSAccountDictionary socialAccountDictionary();
  static void postSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion);
  static void postSnsAccountInternal(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion,
                                     const std::optional<std::string>& sourceRequestType);
  static void postAppInfo(const os::Dictionary& appInfo, OBSocialCompletion completion);
  static void postCustomAccount(const std::shared_ptr<OBSocialCustomAccount>& account, OBSocialCompletion completion);
  static void setSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account);
  static bool isLoginWithSnsAccount();
  static bool isLogin();
  // Authorised (a user id) and the token not past its expiry (the expiry second itself counts).
  static bool isOauthAndTokenNotExpired(const std::string& platformName);
  static bool isOauthWithPlatform(const std::string& platformName);
  static bool isLoginWithAnonymous();
  static void setIsLoginWithAnonymous(bool anonymous);
};
