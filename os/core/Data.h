#pragma once
// Raw bytes as the system passes them around (bodies, blobs, pasteboard items).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace os {

using Data = std::vector<std::uint8_t>;

inline Data dataFromString(std::string_view s) { return Data(s.begin(), s.end()); }
inline std::string stringFromData(const Data& d) { return std::string(d.begin(), d.end()); }

}  // namespace os
