#include "sharing/service/OBSocialSnsPlatform.h"

#include "sharing/service/OBUtils.h"

OBSocialSnsPlatform::OBSocialSnsPlatform(std::string name) : platformName(std::move(name)) {
  loginClickHandler = [](const auto&, const auto&, bool, OBSocialCompletion) {
    OBUtils::outLog("the platform is not support login!");
  };
}

std::shared_ptr<OBSocialSnsPlatformInternal> OBSocialSnsPlatform::platformInternal() {
  if (!internal_) internal_ = std::make_shared<OBSocialSnsPlatformInternal>(weak_from_this());
  return internal_;
}
