#include "qqconnect_core/requests/URLTools.h"

#include "os/core/String.h"

const TLQueryStringRules& VelmoraRequestQueryRules() {
  static const TLQueryStringRules rules{std::string(os::kURLUnreservedCharacters), false, false};
  return rules;
}

const TLQueryStringRules& URLToolsQueryRules() {
  static const TLQueryStringRules rules{std::string(os::kURLUnreservedCharacters) + "'@", false, false};
  return rules;
}

std::optional<std::string> VelmoraEscapedQueryValue(const os::Value& value, const TLQueryStringRules& rules) {
  return TLPercentEscapedQueryStringPairMemberFromStringWithEncoding(TLQueryStringDescription(value),
                                                                     os::StringEncoding::UTF8, rules);
}

std::optional<std::string> URLTools::GetURLWithParam(const std::optional<std::string>& base, const os::Dictionary& params) {
  if (!base) return std::nullopt;
  std::string url = *base;
  bool first = true;
  for (const auto& [key, value] : params) {
    url += first ? '?' : '&';
    first = false;
    url += key;
    url += '=';
    if (auto escaped = VelmoraEscapedQueryValue(value, URLToolsQueryRules())) url += *escaped;
  }
  return url;
}

namespace URLExtend {

std::string trim(std::string_view s) { return os::trimWhitespace(s); }

std::string stringByEncodeUrl(std::string_view s) {
  const std::string plain = os::percentUnescape(s).value_or(std::string(s));
  return VelmoraEscapedQueryValue(os::Value(plain), VelmoraRequestQueryRules()).value_or(std::string());
}

os::Dictionary dictionaryByParseUrlFromSeparator(std::string_view s, std::string_view separator) {
  os::Dictionary out;
  const std::size_t at = separator.empty() ? std::string_view::npos : s.find(separator);
  if (at == std::string_view::npos) return out;
  for (const std::string& piece : os::split(s.substr(at + separator.size()), "&")) {
    const std::vector<std::string> parts = os::split(piece, "=");
    if (parts.size() != 2 || parts[0].empty()) continue;
    auto key = os::percentUnescape(parts[0]);
    auto value = os::percentUnescape(parts[1]);
    if (!key || !value) continue;  // a broken escape is no value of the sender's
    out.set(std::move(*key), os::Value(std::move(*value)));
  }
  return out;
}

}  // namespace URLExtend
