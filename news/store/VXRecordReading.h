#pragma once
// Type-checked reads of the members of a dictionary that came from outside (a server answer, a
// stored row). A member of the wrong type counts as absent, like a missing one or a null.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Value.h"

namespace vxrecord {

// A number (a fraction is cut toward zero), or a string holding only a decimal integer (the
// database hands some integers back as text). Booleans, other strings and containers: absent.
std::optional<long long> integerMember(const os::Dictionary& dict, std::string_view key);
// A string only.
std::optional<std::string> stringMember(const os::Dictionary& dict, std::string_view key);
// An array only.
const os::Array* arrayMember(const os::Dictionary& dict, std::string_view key);

}  // namespace vxrecord
