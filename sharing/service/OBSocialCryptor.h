#pragma once
// The sharing service's cipher: AES-128-CBC over zero-padded UTF-8 text, Base64 text outside.
// The key is the first 16 characters of the upper-case MD5 text of the application key, taken
// from the key in force at each call, so a key set after the first request still counts.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

inline constexpr const char* kOBSocialCryptorIV = "qxvdk.w4/Tz+R591";

class OBSocialCryptor {
 public:
  // With the application key held by the data manager set.
  static std::optional<std::string> AES128Encrypt(std::string_view text);
  static std::optional<std::string> AES128Decrypt(std::string_view text);

  static os::Data keyForAppKey(std::string_view appKey);
  static std::optional<std::string> encrypt(std::string_view text, std::string_view appKey);
  // The plain text with the padding NUL characters still at its end; absent for text that is not
  // Base64 of whole blocks or does not decipher.
  static std::optional<std::string> decrypt(std::string_view text, std::string_view appKey);
  // The padding removed: what a reader of the deciphered text gets.
  static std::string stripPadding(std::string text);
};
