#pragma once
// Message digests and keyed hashes over raw bytes.
#include <string>
#include <string_view>

#include "os/core/Data.h"

namespace os {

Data md5(const Data& bytes);
Data md5(std::string_view text);
Data sha1(const Data& bytes);
Data sha1(std::string_view text);
Data hmacSHA1(const Data& key, const Data& message);

// Lower-case hexadecimal digits, two per byte.
std::string hexString(const Data& bytes);
std::string md5Hex(std::string_view text);
std::string md5Hex(const Data& bytes);
std::string sha1Hex(std::string_view text);
std::string sha1Hex(const Data& bytes);

}  // namespace os
