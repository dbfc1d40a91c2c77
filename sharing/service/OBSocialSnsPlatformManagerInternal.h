#pragma once
// Platform names to type numbers, for the classes that only need the number.
#include <string>

class OBSocialSnsPlatformManagerInternal {
 public:
  // The registered platform's type; 0 for a name that is not registered.
  static int getSnsPlatformType(const std::string& name);
  static bool isRegisteredPlatform(const std::string& name) { return getSnsPlatformType(name) != 0; }
};
