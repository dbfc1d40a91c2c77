#include "sharing/service/OBSocialSnsService.h"

#include "foundation/ServiceCallLog.h"

namespace {
constexpr const char* kService = "OBSocialSnsService";
}

void OBSocialSnsService::applicationDidBecomeActive() { ServiceCallLog::record(kService, "applicationDidBecomeActive"); }

bool OBSocialSnsService::handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>& wxApiDelegate) {
  ServiceCallLog::record(kService, "handleOpenURL", os::Dictionary{{"url", os::Value(url.absoluteString())}});
  return false;
}

void OBSocialSnsService::presentSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller,
                                                 const std::optional<std::string>& appKey,
                                                 const std::optional<std::string>& shareText,
                                                 const std::shared_ptr<os::Image>& shareImage,
                                                 const std::optional<std::vector<std::string>>& shareToSnsNames,
                                                 const std::weak_ptr<OBSocialUIDelegate>& delegate) {
  os::Value names;
  if (shareToSnsNames) {
    os::Array list;
    list.reserve(shareToSnsNames->size());
    for (const auto& name : *shareToSnsNames) list.emplace_back(name);
    names = os::Value(std::move(list));
  }
  ServiceCallLog::record(kService, "presentSnsIconSheetView",
                         os::Dictionary{{"appKey", ServiceCallLog::optional(appKey)},
                                        {"shareText", ServiceCallLog::optional(shareText)},
                                        {"shareToSnsNames", std::move(names)}},
                         IconSheetObjects{controller, shareImage, delegate});
}
