#include "platforms/renren/RennAccessToken.h"

#include "os/core/String.h"

std::optional<std::string> RennAccessToken::userId() const {
  if (!accessToken_) return std::nullopt;
  if (isMac()) {
    auto pieces = os::split(*accessToken_, ".");
    if (pieces.size() < 2) return std::nullopt;
    return pieces[pieces.size() - 2];
  }
  return os::split(*accessToken_, "-").back();
}

os::Dictionary RennAccessToken::toDictionary() const {
  os::Dictionary d;
  auto put = [&d](const char* key, const std::optional<std::string>& v) {
    if (v) d.set(key, os::Value(*v));
  };
  put("token_type", tokenType_);
  put("access_token", accessToken_);
  put("refresh_token", refreshToken_);
  put("access_scope", accessScope_);
  if (expiresIn_ != 0) d.set("expires_in", os::Value::number('q', expiresIn_));
  if (requestTime_ != 0.0) d.set("request_tim", os::Value(requestTime_));
  put("mac_key", macKey_);
  put("mac_algorithm", macAlgorithm_);
  return d;
}

RennAccessToken RennAccessToken::fromDictionary(const os::Dictionary& record) {
  auto text = [&record](const char* key) -> std::optional<std::string> {
    if (const std::string* s = record[key].string()) return *s;
    return std::nullopt;
  };
  RennAccessToken token;
  token.tokenType_ = text("token_type");
  token.accessToken_ = text("access_token");
  token.refreshToken_ = text("refresh_token");
  token.accessScope_ = text("access_scope");
  token.macKey_ = text("mac_key");
  token.macAlgorithm_ = text("mac_algorithm");
  const os::Value& expires = record["expires_in"];
  if (expires.isNumber() || expires.isString()) token.expiresIn_ = expires.intValue();
  const os::Value& time = record["request_tim"];
  if (time.isNumber() || time.isString()) token.requestTime_ = time.doubleValue();
  return token;
}
