#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"

#include "sharing/service/OBSocialSnsPlatformManager.h"

int OBSocialSnsPlatformManagerInternal::getSnsPlatformType(const std::string& name) {
  return OBSocialSnsPlatformManager::getSnsPlatformType(name);
}
