#include "news/api/StringHelper.h"

#include "os/core/String.h"
#include "os/core/TextEncoding.h"
#include "os/crypto/Digest.h"

namespace StringHelper {

std::string md5(std::string_view text) {
  // The digest was taken of a C string, so it stops at the first zero byte.
  auto zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  return os::lowercaseASCII(os::md5Hex(text));
}

std::string toGBK(std::string_view text) {
  return os::percentEscape(text, os::StringEncoding::GB18030, os::kURLLegalCharacters).value_or("");
}

std::string trim(std::string_view text) { return os::trimWhitespace(text); }

std::string urlEncode(std::string_view text) {
  // The reserved characters on top of the plain escaping leave exactly the unreserved set.
  return os::percentEscape(text, os::kURLUnreservedCharacters);
}

}  // namespace StringHelper
