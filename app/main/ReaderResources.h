#pragma once
// What the bundle carries for the embedded service clients: the URL types their answers come back
// on, the provisioning profile's push environment, the sharing component's resource bundle and
// strings table, and the QQ Connect client's resource bundle.
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

namespace reader {

// The Renren client's application id (the callback scheme is "rm" + id + bundle identifier).
inline constexpr const char* kRenrenAppId = "238145";
// The push environment the profile names; matches "APS_FOR_PRODUCTION" of PushConfig.plist.
inline constexpr const char* kApsEnvironment = "development";

// "CFBundleURLTypes" of Info.plist: the messenger's app id, the QQ plug-in scheme, "velmora" + the
// QQ Connect app id, the app-to-app scheme (URL name "velmoraApiIdentifier"), Sina Weibo's and the
// Renren callback.
os::Array urlTypes(const std::string& bundleIdentifier);

// Writes what is missing below the bundle folder; existing files are kept.
bool writeServiceResources(const std::string& bundle, const std::string& bundleIdentifier, os::Error* error);

}  // namespace reader
