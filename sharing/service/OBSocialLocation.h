#pragma once
// A place on the earth, as comments and shares carry it.
#include <optional>
#include <string>

#include "os/core/Value.h"

struct OBSocialLocation {
  double latitude = 0;
  double longitude = 0;

  bool operator==(const OBSocialLocation&) const = default;

  // "(longitude,latitude)" with six decimals, as the service reads it.
  std::string serviceText() const;
  os::Value archiveValue() const;
  // Absent unless a dictionary with both numbers.
  static std::optional<OBSocialLocation> fromArchiveValue(const os::Value& value);
};
