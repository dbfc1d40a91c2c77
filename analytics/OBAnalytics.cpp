#include "analytics/OBAnalytics.h"

#include "foundation/ServiceCallLog.h"

void OBAnalytics::startWithAppkey(const std::string& appKey, int reportPolicy,
                                  const std::optional<std::string>& channelId) {
  ServiceCallLog::record("OBAnalytics", "startWithAppkey",
                         os::Dictionary{{"appKey", os::Value(appKey)},
                                        {"reportPolicy", os::Value(reportPolicy)},
                                        {"channelId", ServiceCallLog::optional(channelId)}});
}
