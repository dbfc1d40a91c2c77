#include "os/store/TimeZoneFiles.h"

#include <cstdlib>

namespace os {

std::string timeZoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir && *dir ? dir : "/usr/share/zoneinfo";
}

std::optional<std::string> processTimeZoneSetting() {
  const char* tz = std::getenv("TZ");
  if (!tz || !*tz) return std::nullopt;
  return std::string(tz);
}

}  // namespace os
