#pragma once
// Where the machine keeps its time-zone rules and which zone the process was started in, for the
// calendar's zone reader.
#include <optional>
#include <string>

namespace os {

// The folder of compiled zone files: TZDIR when set, else "/usr/share/zoneinfo".
std::string timeZoneDirectory();
// The process's zone setting (TZ) when set and not empty: a zone name, a path, or either after ":".
std::optional<std::string> processTimeZoneSetting();
// The machine's local zone file.
inline constexpr const char* kLocalTimeZoneFile = "/etc/localtime";

}  // namespace os
