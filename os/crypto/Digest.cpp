#include "os/crypto/Digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "os/crypto/CryptoLibrary.h"

namespace os {

namespace {

Data digest(const EVP_MD* md, const void* bytes, std::size_t size) {
  CryptoLibraryUse use;
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes, size, out, &len, md, nullptr) != 1) return {};
  return Data(out, out + len);
}

}  // namespace

Data md5(const Data& bytes) { return digest(EVP_md5(), bytes.data(), bytes.size()); }
Data md5(std::string_view text) { return digest(EVP_md5(), text.data(), text.size()); }
Data sha1(const Data& bytes) { return digest(EVP_sha1(), bytes.data(), bytes.size()); }
Data sha1(std::string_view text) { return digest(EVP_sha1(), text.data(), text.size()); }

Data hmacSHA1(const Data& key, const Data& message) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  CryptoLibraryUse use;
  static const unsigned char kEmpty = 0;
  if (!HMAC(EVP_sha1(), key.empty() ? &kEmpty : key.data(), static_cast<int>(key.size()),
            message.empty() ? &kEmpty : message.data(), message.size(), out, &len))
    return {};
  return Data(out, out + len);
}

std::string hexString(const Data& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string md5Hex(std::string_view text) { return hexString(md5(text)); }
std::string md5Hex(const Data& bytes) { return hexString(md5(bytes)); }
std::string sha1Hex(std::string_view text) { return hexString(sha1(text)); }
std::string sha1Hex(const Data& bytes) { return hexString(sha1(bytes)); }

}  // namespace os
