#include "sharing/service/OBSocialCryptor.h"

#include "os/crypto/Cipher.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBUtils.h"
#include "sharing/service/XTMOBStringEncoding.h"

OBSocialCryptor::OBSocialCryptor() : key_(keyForAppKey(OBSDataManagerSet::shareInstance()->appkey())) {}

std::shared_ptr<OBSocialCryptor> OBSocialCryptor::sharedInstance() { return OBSocialContext::shared<OBSocialCryptor>(); }

os::Data OBSocialCryptor::keyForAppKey(std::string_view appKey) {
  std::string hex = OBUtils::md5Value(appKey);
  return os::Data(hex.begin(), hex.begin() + 16);
}

std::optional<std::string> OBSocialCryptor::encryptWithKey(std::string_view text, const os::Data& key) {
  os::Data padded(text.begin(), text.end());
  padded.resize(padded.size() + (16 - padded.size() % 16), 0);
  auto cipher = os::aes128CBCEncrypt(padded, key, os::dataFromString(kOBSocialCryptorIV), os::CipherPadding::None);
  if (!cipher) return std::nullopt;
  return OBUtils::base64EncodeData(*cipher);
}

std::optional<std::string> OBSocialCryptor::decryptWithKey(std::string_view text, const os::Data& key) {
  auto bytes = OBSocialBase64::decodeData(os::Data(text.begin(), text.end()));
  if (!bytes) return std::nullopt;
  auto plain = os::aes128CBCDecrypt(*bytes, key, os::dataFromString(kOBSocialCryptorIV), os::CipherPadding::None);
  if (!plain) return std::nullopt;
  return os::stringFromData(*plain);
}

std::optional<std::string> OBSocialCryptor::encrypt(std::string_view text, std::string_view appKey) {
  return encryptWithKey(text, keyForAppKey(appKey));
}

std::optional<std::string> OBSocialCryptor::decrypt(std::string_view text, std::string_view appKey) {
  return decryptWithKey(text, keyForAppKey(appKey));
}

std::string OBSocialCryptor::stripPadding(std::string text) {
  auto end = text.find_last_not_of('\0');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::optional<std::string> OBSocialCryptor::AES128Encrypt(std::string_view text) {
  return encryptWithKey(text, sharedInstance()->key_);
}

std::optional<std::string> OBSocialCryptor::AES128Decrypt(std::string_view text) {
  return decryptWithKey(text, sharedInstance()->key_);
}
