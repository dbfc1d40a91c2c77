#include "platforms/renren/OAuth2SignatureMethod.h"

#include <array>

#include "foundation/formats/Base64.h"
#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"

namespace {

bool isASCII(const std::string& s) {
  for (unsigned char c : s)
    if (c > 0x7F) return false;
  return true;
}

// The key stops at a NUL, as the signers of the other side read it.
std::string cString(const std::string& s) { return s.substr(0, s.find('\0')); }

}  // namespace

std::optional<std::string> OAuth2SignatureMethod::sign(const std::string& text, const std::string& secret) {
  if (!isASCII(text) || !isASCII(secret)) return std::nullopt;
  return base64EncodedStringWithData(
      os::hmacSHA1(os::dataFromString(cString(secret)), os::dataFromString(cString(text))));
}

std::string OAuth2SignatureMethod::normalizeRequestByTimestamp(const std::optional<std::string>& ts,
                                                               const std::optional<std::string>& nonce,
                                                               const std::optional<std::string>& ext,
                                                               const std::optional<std::string>& httpMethod,
                                                               const std::optional<std::string>& uri,
                                                               const std::optional<std::string>& host,
                                                               const std::optional<std::string>& port) {
  std::string out;
  for (const auto* value : {&ts, &nonce, &httpMethod, &uri, &host, &port, &ext}) {
    if (!*value) break;
    out += **value + "\n";
  }
  return out;
}

std::string OAuth2SignatureMethod::getRandomStringForLength(long n) {
  // 62 characters with "g", "k" and "G" twice and no "j", "q" or "J": the other side's
  // verifiers only see the nonce, so the alphabet is kept as it always was.
  static constexpr std::string_view kAlphabet = "abcdefghigklmnopkrstuvwxyzABCDEFGHIGKLMNOPQRSTUVWXYZ0123456789";
  std::string out;
  for (long i = 0; i < n; ++i) out += kAlphabet[os::random32() % kAlphabet.size()];
  return out;
}

std::optional<std::string> OAuth2SignatureMethod::base64EncodedStringWithData(const os::Data& data) {
  if (data.empty()) return std::string();
  return base64EncodedStringWithWrapWidth(data, 64, Base64LineBreaks::BetweenLines);
}
