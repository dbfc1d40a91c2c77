#include "tools/newsd/server/Signing.h"

#include "os/crypto/Digest.h"

namespace newsd {

namespace {
char hexDigit(unsigned v) { return "0123456789abcdef"[v & 15u]; }
}  // namespace

static_assert(kNewsSecretKey.size() == 32);
static_assert(kPromotionSecretKey.size() == 30);

std::string deriveSigningKey(std::string_view storedKey) {
  std::string key;
  key.reserve(storedKey.size());
  for (std::size_t i = 0; i < storedKey.size(); ++i) {
    unsigned code = static_cast<unsigned char>(storedKey[i]);
    key.push_back(hexDigit((code + static_cast<unsigned>(i / 2)) % 16));
  }
  return key;
}

std::string checkCode(std::string_view p, std::string_view signingKey) {
  if (signingKey.empty()) return {};
  std::string digest = os::md5Hex(p);
  std::string code;
  code.reserve(digest.size());
  for (std::size_t i = 0; i < digest.size(); ++i) {
    unsigned m = static_cast<unsigned char>(digest[i]);
    unsigned k = static_cast<unsigned char>(signingKey[i % signingKey.size()]);
    code.push_back(hexDigit((m + k) % 16));
  }
  return code;
}

bool checkCodeMatches(std::string_view given, std::string_view expected) {
  if (given.size() != expected.size() || expected.empty()) return false;
  unsigned diff = 0;
  for (std::size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(expected[i]);
  return diff == 0;
}

}  // namespace newsd
