#include "sharing/service/OBSocialCryptor.h"

#include "os/crypto/Cipher.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBUtils.h"
#include "sharing/service/XTMOBStringEncoding.h"

os::Data OBSocialCryptor::keyForAppKey(std::string_view appKey) {
  std::string hex = OBUtils::md5Value(appKey);
  return os::Data(hex.begin(), hex.begin() + 16);
}

std::optional<std::string> OBSocialCryptor::encrypt(std::string_view text, std::string_view appKey) {
  os::Data padded(text.begin(), text.end());
  padded.resize(padded.size() + (16 - padded.size() % 16), 0);
  auto cipher = os::aes128CBCEncrypt(padded, keyForAppKey(appKey), os::dataFromString(kOBSocialCryptorIV),
                                     os::CipherPadding::None);
  if (!cipher) return std::nullopt;
  return OBUtils::base64EncodeData(*cipher);
}

std::optional<std::string> OBSocialCryptor::decrypt(std::string_view text, std::string_view appKey) {
  auto bytes = OBSocialBase64::decodeData(os::Data(text.begin(), text.end()));
  if (!bytes) return std::nullopt;
  auto plain = os::aes128CBCDecrypt(*bytes, keyForAppKey(appKey), os::dataFromString(kOBSocialCryptorIV),
                                    os::CipherPadding::None);
  if (!plain) return std::nullopt;
  return os::stringFromData(*plain);
}

std::string OBSocialCryptor::stripPadding(std::string text) {
  auto end = text.find_last_not_of('\0');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::optional<std::string> OBSocialCryptor::AES128Encrypt(std::string_view text) {
  return encrypt(text, OBSDataManagerSet::shareInstance()->appkey());
}

std::optional<std::string> OBSocialCryptor::AES128Decrypt(std::string_view text) {
  return decrypt(text, OBSDataManagerSet::shareInstance()->appkey());
}
