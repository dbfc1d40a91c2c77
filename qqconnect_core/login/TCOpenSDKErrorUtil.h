#pragma once
// The QQ Connect client's error codes with their messages, the mapping of URL-loading errors
// and of the OpenAPI server's common codes onto them, and the error dictionaries and responses
// built from them.
#include <memory>
#include <optional>
#include <string>

#include "qqconnect_core/login/APIResponse.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

inline constexpr const char* TCOpenSDKErrorMsgUnsupportedAPI = "不支持的接口";
inline constexpr const char* TCOpenSDKErrorMsgSuccess = "操作成功";
inline constexpr const char* TCOpenSDKErrorMsgUnknown = "未知错误";
inline constexpr const char* TCOpenSDKErrorMsgUserCancel = "用户取消";
inline constexpr const char* TCOpenSDKErrorMsgReLogin = "请重新登录";
inline constexpr const char* TCOpenSDKErrorMsgOperationDeny = "应用没有操作权限";
inline constexpr const char* TCOpenSDKErrorMsgNetwork = "网络异常或没有网络";
inline constexpr const char* TCOpenSDKErrorMsgURL = "URL格式或协议错误";
inline constexpr const char* TCOpenSDKErrorMsgDataParse = "解析数据出错";
inline constexpr const char* TCOpenSDKErrorMsgParam = "传入参数有误";
inline constexpr const char* TCOpenSDKErrorMsgTimeout = "连接超时";
inline constexpr const char* TCOpenSDKErrorMsgSecurity = "安全问题";
inline constexpr const char* TCOpenSDKErrorMsgIO = "文件读写错误";
inline constexpr const char* TCOpenSDKErrorMsgServer = "服务器端错误";
inline constexpr const char* TCOpenSDKErrorMsgWebPage = "页面错误";
inline constexpr const char* TCOpenSDKErrorMsgUserHeadPicLarge = "设置头像图片过大, 需要小于(3264 * 2448)";

inline constexpr const char* TCOpenSDKErrorKeyRetCode = "ret";
inline constexpr const char* TCOpenSDKErrorKeyMsg = "msg";
inline constexpr const char* TCOpenSDKErrorKeyExtraInfo = "TCOpenSDKErrorExtraInfoKey";

enum TCOpenSDKErrorCode : int {
  kTCOpenSDKErrorUnsupportedAPI = -2,
  kTCOpenSDKErrorSuccess = 0,
  kTCOpenSDKErrorUnknown = 1,
  kTCOpenSDKErrorUserCancel = 2,
  kTCOpenSDKErrorReLogin = 3,
  kTCOpenSDKErrorOperationDeny = 4,
  kTCOpenSDKErrorNetwork = 5,
  kTCOpenSDKErrorURL = 6,
  kTCOpenSDKErrorDataParse = 7,
  kTCOpenSDKErrorParam = 8,
  kTCOpenSDKErrorTimeout = 9,
  kTCOpenSDKErrorSecurity = 10,
  kTCOpenSDKErrorIO = 11,
  kTCOpenSDKErrorServer = 12,
  kTCOpenSDKErrorWebPage = 13,
  kTCOpenSDKErrorUserHeadPicLarge = 0x10000,
};

class TCOpenSDKErrorUtil {
 public:
  static std::optional<std::string> openSDKErrorMsgForErrorCode(int code);
  // {"ret", "msg", "TCOpenSDKErrorExtraInfoKey"}; a code without message becomes 1. Null extra
  // leaves its member out.
  static os::Dictionary openSDKErrorWithCode(int code, const os::Value& extraInfo = {});
  static os::Dictionary openSDKErrorWithCommonServerCode(long serverCode, const os::Value& extraInfo = {});
  // A URL-loading error by its code, any other domain as 1; the extra is the error's user info.
  static os::Dictionary openSDKErrorFromOSError(const os::Error& error);
  static int filterURLErrorCode(long urlErrorCode);
  static int commonServerCode(long serverCode);
  // Nothing for a value that is not a dictionary.
  static std::shared_ptr<APIResponse> apiResponse(const os::Value& errorDictionary);
  static std::shared_ptr<APIResponse> apiResponseFromErrorCode(int code);
  // Rewrites the detailed code and message from the JSON answer's "ret".
  static void apiResponseConvert(APIResponse& response);
};
