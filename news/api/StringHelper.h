#pragma once
// Text operations the news client adds to strings: the digest its request signature is built on,
// and the escapings used for addresses.
#include <string>
#include <string_view>

namespace StringHelper {

// MD5 of the UTF-8 bytes (up to the first zero byte) as 32 lower-case hexadecimal digits. The
// request signature relies on the lower case.
std::string md5(std::string_view text);
// Percent-escaped in the GB 18030 encoding (as the platform's plain escaping does); "" when the
// text cannot be written in it.
std::string toGBK(std::string_view text);
// Without leading and trailing white space and line breaks.
std::string trim(std::string_view text);
// Percent-escaped in UTF-8, escaping also every one of "!*'();:@&=+$,/?%#[]".
std::string urlEncode(std::string_view text);

}  // namespace StringHelper
