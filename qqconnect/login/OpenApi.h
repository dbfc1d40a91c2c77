#pragma once
// Single sign-on through the QQ and QZone applications: a login request goes to QQ as a keyed
// archive on a pasteboard plus a URL of QQ's scheme; QQ answers by opening this application's
// "velmora" + application id scheme, and the reply fills the registered login session. The state
// is the platform's one per process (the class-level state the session registers with).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/login/VelmoraSessionDelegate.h"
#include "qqconnect_core/requests/VelmoraRequest.h"
#include "os/core/Date.h"
#include "os/core/Value.h"

class VelmoraOAuth;

inline constexpr const char* kOPEN_KEY_AUTH_PERSSION_LIST = "scope";
inline constexpr const char* kOPEN_KEY_AUTH_APPID = "app_id";
inline constexpr const char* kOPEN_KEY_AUTH_CLIENTID = "client_id";
inline constexpr const char* kOPEN_KEY_AUTH_APPNAME = "app_name";
inline constexpr const char* kOPEN_KEY_AUTH_RESPONSE_TYPE = "response_type";
inline constexpr const char* kOPEN_KEY_AUTH_USERCANCLLED = "user_cancelled";
inline constexpr const char* kOPEN_KEY_AUTH_OPENID = "openid";
inline constexpr const char* kOPEN_KEY_AUTH_ACCESSTOKEN = "access_token";
inline constexpr const char* kOPEN_KEY_AUTH_EXPIRE_IN = "expires_in";
inline constexpr const char* kOPEN_KEY_AUTH_SIGNATURE_KEY = "encrytoken";
inline constexpr const char* kOPEN_KEY_AUTH_AUTH_TIME = "auth_time";
inline constexpr const char* kOPEN_KEY_AUTH_PAGE_TYPE = "page_type";
inline constexpr const char* kOPEN_KEY_AUTH_STATE = "state";
inline constexpr const char* kOpenApiNamedPasteboardType = "qzappDataType";
// A reply without expires_in lasts this long.
inline constexpr double kOpenApiDefaultExpiry = 2592000;

// When a login's token stops being valid, from its "expires_in": whole seconds from now, 0 for
// never, and a missing or unreadable value for kOpenApiDefaultExpiry.
os::Date VelmoraExpiryDate(const os::Value* expiresIn);

class OpenApi {
 public:
  static bool registerApp(const std::string& appId);
  static void registerApp(const std::string& appId, std::weak_ptr<VelmoraSessionDelegate> delegate,
                          std::weak_ptr<VelmoraOAuth> session);
  static void unRegisterApp(const std::string& appId, const VelmoraSessionDelegate* delegate, const VelmoraOAuth* session);
  static void unRegisterAppSessionDelegate(const VelmoraSessionDelegate* delegate);
  // Forgets everything, the reply scheme included (tests start afresh).
  static void clearParam();

  static bool canParseURL(const std::string& url);
  static unsigned qqVersion();
  static unsigned qzoneVersion();
  static bool isQZoneInstalled();
  static std::string getSupportingMaxApiVersion() { return "10.0"; }
  static std::string getApiVersion() { return "1.1"; }
  static std::string getQZoneInstallUrl() { return ""; }

  static bool authorizeWithPermission(const std::vector<std::string>& permissions,
                                      std::shared_ptr<VelmoraLoginDelegate> delegate, bool firstCall);
  static bool sendCommandToQZone(const std::string& command, const os::Dictionary& params);
  static bool shareWithQZoneWithData(const os::Dictionary& data) { return sendCommandToQZone("1", data); }

  static bool handleOpenURL(const std::optional<std::string>& url);
  static bool canHandleOpenURL(const std::optional<std::string>& url);

  static const std::string& appSchema();
  static const std::optional<std::string>& ssoPasteboardName();
  // Whether a login request went to QQ and its reply has not come back.
  static bool isLoginOutstanding();

  // Archives longer than this are not read back: the bound of every reply of the client.
  static constexpr std::size_t kMaxReplySize = kVelmoraMaxReplySize;

 private:
  static bool openQQWithCommand(unsigned command, const os::Dictionary& data);
  static bool openQZoneWithCommandStr(const std::string& command, const os::Dictionary& data);
  static bool saveDictionaryToPasteBoard(const os::Dictionary& data);
  static bool saveDictionaryByGeneralPastboard(const os::Dictionary& data);
  static std::optional<os::Dictionary> getDictionaryFromPasteBoard();
  static std::optional<os::Dictionary> getDictionaryFromGeneralPasteBoard();
  static bool processMessage(const std::string& url);
  static bool processLoginReply(const std::optional<os::Dictionary>& reply);
  static bool isSupportGeneralPastboard();
  static bool isQZoneSupportGeneralPastboard();
};
