#pragma once
// A Renren OAuth 2 token, and its record in the user defaults ("rr_renn_access_token", with the
// user id under "rr_renn_uid").
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/Value.h"

inline constexpr const char* kRennAccessTokenKey = "rr_renn_access_token";
inline constexpr const char* kRennUidKey = "rr_renn_uid";

class RennAccessToken {
 public:
  // "bearer" or "mac".
  const std::optional<std::string>& tokenType() const { return tokenType_; }
  void setTokenType(std::optional<std::string> v) { tokenType_ = std::move(v); }
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  void setAccessToken(std::optional<std::string> v) { accessToken_ = std::move(v); }
  const std::optional<std::string>& refreshToken() const { return refreshToken_; }
  void setRefreshToken(std::optional<std::string> v) { refreshToken_ = std::move(v); }
  // Permissions separated by spaces.
  const std::optional<std::string>& accessScope() const { return accessScope_; }
  void setAccessScope(std::optional<std::string> v) { accessScope_ = std::move(v); }
  const std::optional<std::string>& macKey() const { return macKey_; }
  void setMacKey(std::optional<std::string> v) { macKey_ = std::move(v); }
  // As received; the signer always uses HMAC-SHA1.
  const std::optional<std::string>& macAlgorithm() const { return macAlgorithm_; }
  void setMacAlgorithm(std::optional<std::string> v) { macAlgorithm_ = std::move(v); }
  // Lifetime in seconds. 64 bits: a lifetime or a deadline must not wrap in 2038.
  std::int64_t expiresIn() const { return expiresIn_; }
  void setExpiresIn(std::int64_t v) { expiresIn_ = v; }
  // Seconds since 1970 at which the token was received.
  double requestTime() const { return requestTime_; }
  void setRequestTime(double v) { requestTime_ = v; }

  bool isMac() const { return tokenType_ == "mac"; }
  // The user id the token names: for "mac" the second-to-last "."-piece, otherwise the last
  // "-"-piece; none when the text has no such piece.
  std::optional<std::string> userId() const;

  // The defaults record: only present values are written ("expires_in" when non-zero,
  // "request_tim" when not 0.0).
  os::Dictionary toDictionary() const;
  // Values of the wrong type count as absent.
  static RennAccessToken fromDictionary(const os::Dictionary& record);

 private:
  std::optional<std::string> tokenType_, accessToken_, refreshToken_, accessScope_, macKey_, macAlgorithm_;
  std::int64_t expiresIn_ = 0;
  double requestTime_ = 0;
};
