#include "os/store/ProvisioningProfile.h"

#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"

namespace os {

namespace {
// The team prefix of a profile made for the simulated device.
constexpr const char* kTeamIdentifier = "SIMULATED0";
}  // namespace

bool writeProvisioningProfile(const std::string& bundlePath, const std::string& bundleIdentifier,
                              const std::string& apsEnvironment, Error* error) {
  Dictionary entitlements{{"application-identifier", Value(std::string(kTeamIdentifier) + "." + bundleIdentifier)},
                          {"get-task-allow", Value(apsEnvironment != "production")}};
  if (!apsEnvironment.empty()) entitlements.set("aps-environment", Value(apsEnvironment));
  Dictionary profile{{"AppIDName", Value(bundleIdentifier)},
                     {"ApplicationIdentifierPrefix", Value(Array{Value(kTeamIdentifier)})},
                     {"Entitlements", Value(std::move(entitlements))},
                     {"Name", Value(bundleIdentifier + " simulated device profile")},
                     {"TeamIdentifier", Value(Array{Value(kTeamIdentifier)})},
                     {"Version", Value(1)}};
  return PropertyList::writeFile(Value(std::move(profile)), appendingPathComponent(bundlePath, kProvisioningProfileFileName),
                                 PropertyListFormat::XML, error);
}

}  // namespace os
