#include "news/store/VXRecordReading.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "os/core/String.h"

namespace vxrecord {

namespace {

std::optional<long long> parseInteger(const std::string& text) {
  std::string s = os::trimWhitespace(text);
  std::size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  if (i == s.size()) return std::nullopt;
  for (std::size_t k = i; k < s.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(s[k]))) return std::nullopt;
  errno = 0;
  long long v = std::strtoll(s.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return v;
}

}  // namespace

std::optional<long long> integerMember(const os::Dictionary& dict, std::string_view key) {
  const os::Value* v = dict.find(key);
  if (!v) return std::nullopt;
  if (v->isNumber()) return v->intValue();
  if (const std::string* s = v->string()) return parseInteger(*s);
  return std::nullopt;
}

std::optional<std::string> stringMember(const os::Dictionary& dict, std::string_view key) {
  const os::Value* v = dict.find(key);
  if (!v) return std::nullopt;
  if (const std::string* s = v->string()) return *s;
  return std::nullopt;
}

const os::Array* arrayMember(const os::Dictionary& dict, std::string_view key) {
  const os::Value* v = dict.find(key);
  return v ? v->array() : nullptr;
}

}  // namespace vxrecord
