#include "sharing/handlers/OBSocialQQHandler.h"

#include "foundation/ServiceCallLog.h"

void OBSocialQQHandler::setQQWithAppId(const std::optional<std::string>& appId,
                                       const std::optional<std::string>& appKey,
                                       const std::optional<std::string>& url) {
  ServiceCallLog::record("OBSocialQQHandler", "setQQWithAppId",
                         os::Dictionary{{"appId", ServiceCallLog::optional(appId)},
                                        {"appKey", ServiceCallLog::optional(appKey)},
                                        {"url", ServiceCallLog::optional(url)}});
}
