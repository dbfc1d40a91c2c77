#include "push/ROVodozov.h"

#include "foundation/ServiceCallLog.h"

namespace {
constexpr const char* kService = "ROVodozov";
}

void ROVodozov::registerForRemoteNotificationTypes(unsigned types, const os::Value& categories) {
  ServiceCallLog::record(kService, "registerForRemoteNotificationTypes",
                         os::Dictionary{{"types", os::Value(types)}, {"categories", categories}});
}

void ROVodozov::setupWithOption(const os::Dictionary& launchOptions) {
  ServiceCallLog::record(kService, "setupWithOption", os::Dictionary{{"launchOptions", os::Value(launchOptions)}});
}

void ROVodozov::registerDeviceToken(const os::Data& token) {
  ServiceCallLog::record(kService, "registerDeviceToken", os::Dictionary{{"token", os::Value(token)}});
}

void ROVodozov::handleRemoteNotification(const os::Dictionary& userInfo) {
  ServiceCallLog::record(kService, "handleRemoteNotification", os::Dictionary{{"userInfo", os::Value(userInfo)}});
}
