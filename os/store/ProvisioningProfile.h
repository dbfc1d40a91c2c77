#pragma once
// The provisioning profile that packaging puts into an application's bundle
// ("embedded.mobileprovision"): the application's identifier and its entitlements, among them the
// push environment. A device's profile wraps the property list in a signature; the readers here,
// like the clients on a device, only look at the property-list text, so none is added.
#include <string>

#include "os/core/Error.h"

namespace os {

inline constexpr const char* kProvisioningProfileFileName = "embedded.mobileprovision";

// Writes the profile into the bundle folder for `bundleIdentifier` with "aps-environment" set to
// `apsEnvironment` ("development" or "production"; left out when empty).
bool writeProvisioningProfile(const std::string& bundlePath, const std::string& bundleIdentifier,
                              const std::string& apsEnvironment, Error* error = nullptr);

}  // namespace os
