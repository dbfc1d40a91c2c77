#include "sharing/service/OBSocialLocation.h"

#include <cstdio>

std::string OBSocialLocation::serviceText() const {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "(%f,%f)", longitude, latitude);
  return buffer;
}

os::Value OBSocialLocation::archiveValue() const {
  return os::Value(os::Dictionary{{"latitude", os::Value(latitude)}, {"longitude", os::Value(longitude)}});
}

std::optional<OBSocialLocation> OBSocialLocation::fromArchiveValue(const os::Value& value) {
  const auto& lat = value["latitude"];
  const auto& lng = value["longitude"];
  if (!lat.isNumber() || !lng.isNumber()) return std::nullopt;
  return OBSocialLocation{lat.doubleValue(), lng.doubleValue()};
}
