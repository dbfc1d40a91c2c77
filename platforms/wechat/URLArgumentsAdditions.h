#pragma once
// Escaping of texts for URL arguments, as the messenger client's string additions.
#include <optional>
#include <string>
#include <string_view>

// Every character that may not stand in a URL, and each of !*'();:@&=+$,/?%#[], escaped as UTF-8.
std::string xtm_stringByEscapingForURLArgument(std::string_view s);
// Only the characters that may not stand in a URL escaped; ;/?:@=&$-_.+!*'(),% stay.
std::string xtm_stringByEscapingForURLArgumentOnly(std::string_view s);
// "+" read as a blank, then percent escapes decoded as UTF-8; none when they do not decode.
std::optional<std::string> xtm_stringByUnescapingFromURLArgument(std::string_view s);
// "+" read as a blank, "\X" (either case) read as "%", then percent escapes decoded as UTF-8.
std::optional<std::string> xtm_stringByEncodeByJsonAndUrlEncode(std::string_view s);
