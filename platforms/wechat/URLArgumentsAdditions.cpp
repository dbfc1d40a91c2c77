#include "platforms/wechat/URLArgumentsAdditions.h"

#include "os/core/String.h"

std::string xtm_stringByEscapingForURLArgument(std::string_view s) { return os::percentEscape(s); }

std::string xtm_stringByEscapingForURLArgumentOnly(std::string_view s) {
  static const std::string keep = std::string(os::kURLUnreservedCharacters) + ";/?:@=&$+!*'(),%";
  return os::percentEscape(s, keep);
}

std::optional<std::string> xtm_stringByUnescapingFromURLArgument(std::string_view s) { return os::formURLDecode(s); }

std::optional<std::string> xtm_stringByEncodeByJsonAndUrlEncode(std::string_view s) {
  std::string text = os::replaceAll(os::replaceAll(s, "\\X", "%"), "\\x", "%");
  return os::formURLDecode(text);
}
