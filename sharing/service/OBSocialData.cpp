#include "sharing/service/OBSocialData.h"

#include "foundation/ServiceCallLog.h"

void OBSocialData::setAppKey(const std::string& appKey) {
  ServiceCallLog::record("OBSocialData", "setAppKey", os::Dictionary{{"appKey", os::Value(appKey)}});
}
