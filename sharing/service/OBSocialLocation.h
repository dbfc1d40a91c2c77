#pragma once
// A place on the earth, as comments and shares carry it: the platform's position fix.
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/views/Device.h"

using OBSocialLocation = os::Location;

// "(longitude,latitude)" with six decimals, as the service reads it.
std::string OBSocialLocationText(const OBSocialLocation& location);
os::Value OBSocialLocationArchiveValue(const OBSocialLocation& location);
// Absent unless a dictionary with both coordinates.
std::optional<OBSocialLocation> OBSocialLocationFromArchiveValue(const os::Value& value);
