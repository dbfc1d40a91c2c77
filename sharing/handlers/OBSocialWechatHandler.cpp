#include "sharing/handlers/OBSocialWechatHandler.h"

#include "foundation/ServiceCallLog.h"

void OBSocialWechatHandler::setWXAppId(const std::string& appId, const std::string& appSecret,
                                       const std::optional<std::string>& url) {
  ServiceCallLog::record("OBSocialWechatHandler", "setWXAppId",
                         os::Dictionary{{"appId", os::Value(appId)},
                                        {"appSecret", os::Value(appSecret)},
                                        {"url", ServiceCallLog::optional(url)}});
}
