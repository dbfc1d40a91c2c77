#include "qqconnect_core/login/TCOpenSDKErrorUtil.h"

#include "os/net/URLError.h"

std::optional<std::string> TCOpenSDKErrorUtil::openSDKErrorMsgForErrorCode(int code) {
  static const char* const kMessages[] = {
      TCOpenSDKErrorMsgSuccess, TCOpenSDKErrorMsgUnknown,  TCOpenSDKErrorMsgUserCancel, TCOpenSDKErrorMsgReLogin,
      TCOpenSDKErrorMsgOperationDeny, TCOpenSDKErrorMsgNetwork, TCOpenSDKErrorMsgURL, TCOpenSDKErrorMsgDataParse,
      TCOpenSDKErrorMsgParam, TCOpenSDKErrorMsgTimeout, TCOpenSDKErrorMsgSecurity, TCOpenSDKErrorMsgIO,
      TCOpenSDKErrorMsgServer, TCOpenSDKErrorMsgWebPage};
  if (code == kTCOpenSDKErrorUnsupportedAPI) return TCOpenSDKErrorMsgUnsupportedAPI;
  if (code == kTCOpenSDKErrorUserHeadPicLarge) return TCOpenSDKErrorMsgUserHeadPicLarge;
  if (code >= 0 && code < static_cast<int>(std::size(kMessages))) return kMessages[code];
  return std::nullopt;
}

os::Dictionary TCOpenSDKErrorUtil::openSDKErrorWithCode(int code, const os::Value& extraInfo) {
  auto message = openSDKErrorMsgForErrorCode(code);
  if (!message) {
    code = kTCOpenSDKErrorUnknown;
    message = openSDKErrorMsgForErrorCode(code);
  }
  os::Dictionary out{{TCOpenSDKErrorKeyRetCode, code}, {TCOpenSDKErrorKeyMsg, *message}};
  if (!extraInfo.isNull()) out.set(TCOpenSDKErrorKeyExtraInfo, extraInfo);
  return out;
}

int TCOpenSDKErrorUtil::commonServerCode(long serverCode) {
  if (serverCode == 0) return kTCOpenSDKErrorSuccess;
  if (serverCode == 100014 || serverCode == 100015 || (serverCode >= 100023 && serverCode <= 100027) ||
      serverCode == 100030)
    return kTCOpenSDKErrorReLogin;
  if (serverCode == 100031) return kTCOpenSDKErrorOperationDeny;
  return kTCOpenSDKErrorParam;
}

os::Dictionary TCOpenSDKErrorUtil::openSDKErrorWithCommonServerCode(long serverCode, const os::Value& extraInfo) {
  return openSDKErrorWithCode(commonServerCode(serverCode), extraInfo);
}

os::Dictionary TCOpenSDKErrorUtil::openSDKErrorFromOSError(const os::Error& error) {
  const int code = error.domain == os::kURLErrorDomain ? filterURLErrorCode(error.code) : kTCOpenSDKErrorUnknown;
  return openSDKErrorWithCode(code, os::Value(error.userInfo));
}

int TCOpenSDKErrorUtil::filterURLErrorCode(long c) {
  switch (c) {
    case -1000: case -1002: return kTCOpenSDKErrorURL;
    case -1001: return kTCOpenSDKErrorTimeout;
    case -1003: case -1004: case -1005: case -1006: case -1009: case -1018: case -1019: case -1020:
      return kTCOpenSDKErrorNetwork;
    case -1007: case -1010: case -1011: case -1014: return kTCOpenSDKErrorServer;
    case -1008: case -1021: return kTCOpenSDKErrorIO;
    case -1012: case -1013: case -2000: return kTCOpenSDKErrorSecurity;
    case -1015: case -1016: case -1017: return kTCOpenSDKErrorDataParse;
    default: break;
  }
  if ((c <= -1100 && c >= -1103) || (c <= -3000 && c >= -3007)) return kTCOpenSDKErrorIO;
  if (c <= -1200 && c >= -1206) return kTCOpenSDKErrorSecurity;
  return kTCOpenSDKErrorUnknown;
}

std::shared_ptr<APIResponse> TCOpenSDKErrorUtil::apiResponse(const os::Value& errorDictionary) {
  const os::Dictionary* d = errorDictionary.dictionary();
  if (!d) return nullptr;
  auto response = std::make_shared<APIResponse>();
  response->setRetCode(0);
  const os::Value& ret = (*d)[TCOpenSDKErrorKeyRetCode];
  if (ret.isNumber()) {
    response->setDetailRetCode(static_cast<std::int32_t>(ret.intValue()));
    if (const std::string* msg = (*d)[TCOpenSDKErrorKeyMsg].string()) response->setErrorMsg(*msg);
  } else {
    response->setDetailRetCode(kTCOpenSDKErrorUnknown);
    response->setErrorMsg(openSDKErrorMsgForErrorCode(kTCOpenSDKErrorUnknown));
  }
  return response;
}

std::shared_ptr<APIResponse> TCOpenSDKErrorUtil::apiResponseFromErrorCode(int code) {
  return apiResponse(os::Value(openSDKErrorWithCode(code)));
}

void TCOpenSDKErrorUtil::apiResponseConvert(APIResponse& response) {
  if (!response.jsonResponse()) return;
  const os::Value& ret = (*response.jsonResponse())["ret"];
  if (!ret.isNumber()) return;
  auto converted = apiResponse(os::Value(openSDKErrorWithCommonServerCode(ret.intValue())));
  response.setDetailRetCode(converted->detailRetCode());
  response.setErrorMsg(converted->errorMsg());
}
