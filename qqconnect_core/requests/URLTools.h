#pragma once
// URL helpers of the QQ Connect client: query building with its two escape sets, and the string
// operations of its URL category (trim, escape, parse a query after a separator).
#include <optional>
#include <string>
#include <string_view>

#include "foundation/http/TLQueryStringPair.h"
#include "os/core/Value.h"

// The escape sets of the client, as the bytes left unescaped. The request layer forces
// "!*'();:@&=+$,/?%#[]"; the URL tools force "!*’();:&=+$,/?%#[]", which keeps "'" and "@".
const TLQueryStringRules& VelmoraRequestQueryRules();
const TLQueryStringRules& URLToolsQueryRules();

// A parameter value escaped in UTF-8 under the rules (a number as its decimal text); nothing
// when it cannot be written.
std::optional<std::string> VelmoraEscapedQueryValue(const os::Value& value, const TLQueryStringRules& rules);

class URLTools {
 public:
  // base?k1=v1&k2=v2 in the dictionary's order, "?" even when the base has a query; a value
  // that cannot be escaped leaves its "key=". No base: nothing. No pairs: the base unchanged.
  static std::optional<std::string> GetURLWithParam(const std::optional<std::string>& base, const os::Dictionary& params);
};

// The string operations of the client's URL category.
namespace URLExtend {
// Without leading and trailing white space and line breaks.
std::string trim(std::string_view s);
// Percent escapes decoded first, then escaped again under the request layer's set, so an
// escaped text comes out the same.
std::string stringByEncodeUrl(std::string_view s);
// The "k=v" pieces after the first separator, both sides percent-decoded; pieces without
// exactly one "=" or with an empty key are dropped, later keys replace earlier ones. Empty when
// the separator does not occur.
os::Dictionary dictionaryByParseUrlFromSeparator(std::string_view s, std::string_view separator);
}  // namespace URLExtend
