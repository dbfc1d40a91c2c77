#include "analytics/OBAnalytics.h"

#include "analytics/OBANSession.h"
#include "foundation/ServiceCallLog.h"

std::shared_ptr<OBANSession> OBAnalytics::sharedSession() {
  static const auto session = std::make_shared<OBANSession>();
  return session;
}

std::shared_ptr<const OBANSession> OBAnalytics::session() { return sharedSession(); }

void OBAnalytics::startWithAppkey(const std::string& appKey, int reportPolicy,
                                  const std::optional<std::string>& channelId) {
  sharedSession()->start(appKey, reportPolicy, channelId);
  ServiceCallLog::record("OBAnalytics", "startWithAppkey",
                         os::Dictionary{{"appKey", os::Value(appKey)},
                                        {"reportPolicy", os::Value(reportPolicy)},
                                        {"channelId", ServiceCallLog::optional(channelId)}});
}
