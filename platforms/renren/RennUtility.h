#pragma once
// URL helpers of the Renren client: query strings appended to an address, query text split into
// parameters, and one parameter read out of an address (the login pages put the token there).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/core/Value.h"

class RennUtility {
 public:
  // base + ("&" when base already has a query, else "?") + "key=value" pairs joined with "&".
  // Values are escaped so that only letters, digits and - . _ ~ stay; keys go in as they are.
  // An empty dictionary still appends the separator. String values only; others are skipped.
  static std::string serializeURL(const std::string& base, const os::Dictionary& params);
  // Pieces split at "&", then at "=": key as it stands, value percent-decoded (text after a
  // second "=" dropped). Pieces without "=" or whose value does not decode are skipped.
  static os::Dictionary parseURLParams(const std::optional<std::string>& query);
  // The value of `name` in an address: its first occurrence must start the text or follow "#",
  // "&" or "?"; the value runs to the next "&" and comes back percent-decoded.
  static std::optional<std::string> getParamValueFromUrl(std::string_view url, std::string name);
};
