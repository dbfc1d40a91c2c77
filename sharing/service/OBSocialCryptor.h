#pragma once
// The sharing service's cipher: AES-128-CBC over zero-padded UTF-8 text, Base64 text outside.
// The key is the first 16 characters of the upper-case MD5 text of the application key held when
// the shared cryptor is first used; it is made once and kept, so a later change of the
// application key leaves it as it was.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

inline constexpr const char* kOBSocialCryptorIV = "qxvdk.w4/Tz+R591";

class OBSocialCryptor {
 public:
  // Keyed with the application key the data manager set holds now.
  OBSocialCryptor();
  static std::shared_ptr<OBSocialCryptor> sharedInstance();

  // With the shared cryptor's key.
  static std::optional<std::string> AES128Encrypt(std::string_view text);
  static std::optional<std::string> AES128Decrypt(std::string_view text);

  static os::Data keyForAppKey(std::string_view appKey);
  static std::optional<std::string> encrypt(std::string_view text, std::string_view appKey);
  // The plain text with the padding NUL characters still at its end; absent for text that is not
  // Base64 of whole blocks or does not decipher.
  static std::optional<std::string> decrypt(std::string_view text, std::string_view appKey);
  // The padding removed: what a reader of the deciphered text gets.
  static std::string stripPadding(std::string text);

 private:
  static std::optional<std::string> encryptWithKey(std::string_view text, const os::Data& key);
  static std::optional<std::string> decryptWithKey(std::string_view text, const os::Data& key);

  os::Data key_;
};
