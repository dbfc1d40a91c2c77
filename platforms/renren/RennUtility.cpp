#include "platforms/renren/RennUtility.h"

#include "os/core/String.h"
#include "os/core/URL.h"

std::string RennUtility::serializeURL(const std::string& base, const os::Dictionary& params) {
  auto url = os::URL::parse(base);
  const char* separator = url && url->query() ? "&" : "?";
  std::vector<std::string> pairs;
  for (const auto& [key, value] : params) {
    const std::string* text = value.string();
    if (!text) continue;
    pairs.push_back(key + "=" + os::percentEscape(*text));
  }
  return base + separator + os::join(pairs, "&");
}

os::Dictionary RennUtility::parseURLParams(const std::optional<std::string>& query) {
  os::Dictionary params;
  if (!query) return params;
  for (const std::string& piece : os::split(*query, "&")) {
    auto parts = os::split(piece, "=");
    if (parts.size() < 2) continue;
    auto value = os::percentUnescape(parts[1]);
    if (!value) continue;
    params.set(parts[0], os::Value(*value));
  }
  return params;
}

std::optional<std::string> RennUtility::getParamValueFromUrl(std::string_view url, std::string name) {
  if (name.empty() || name.back() != '=') name += '=';
  const std::size_t at = url.find(name);
  if (at == std::string_view::npos) return std::nullopt;
  if (at > 0 && url[at - 1] != '#' && url[at - 1] != '&' && url[at - 1] != '?') return std::nullopt;
  const std::size_t start = at + name.size();
  const std::size_t end = url.find('&', start);
  auto value = url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
  return os::percentUnescape(value);
}
