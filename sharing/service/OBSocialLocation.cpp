#include "sharing/service/OBSocialLocation.h"

#include <cstdio>

std::string OBSocialLocationText(const OBSocialLocation& location) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "(%f,%f)", location.longitude, location.latitude);
  return buffer;
}

os::Value OBSocialLocationArchiveValue(const OBSocialLocation& location) {
  return os::Value(os::Dictionary{{"latitude", os::Value(location.latitude)},
                                  {"longitude", os::Value(location.longitude)},
                                  {"altitude", os::Value(location.altitude)},
                                  {"horizontalAccuracy", os::Value(location.horizontalAccuracy)},
                                  {"verticalAccuracy", os::Value(location.verticalAccuracy)}});
}

std::optional<OBSocialLocation> OBSocialLocationFromArchiveValue(const os::Value& value) {
  const auto& lat = value["latitude"];
  const auto& lng = value["longitude"];
  if (!lat.isNumber() || !lng.isNumber()) return std::nullopt;
  OBSocialLocation location;
  location.latitude = lat.doubleValue();
  location.longitude = lng.doubleValue();
  if (value["altitude"].isNumber()) location.altitude = value["altitude"].doubleValue();
  if (value["horizontalAccuracy"].isNumber()) location.horizontalAccuracy = value["horizontalAccuracy"].doubleValue();
  if (value["verticalAccuracy"].isNumber()) location.verticalAccuracy = value["verticalAccuracy"].doubleValue();
  return location;
}
