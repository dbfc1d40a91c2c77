#pragma once
// Shares the current content to Facebook and Twitter through the system's social compose screen:
// builds the two platform descriptors, opens the compose screen when the reader picks one, and
// reports its outcome to the share screens' UI delegate.
#include <memory>
#include <string>

#include "sharing/handlers/OBSocialSnsHandler.h"

class OBSocialSnsPlatform;

inline constexpr const char* kOBSocialFacebookServiceType = "com.apple.social.facebook";
inline constexpr const char* kOBSocialTwitterServiceType = "com.apple.social.twitter";

class OBSocialFacebookSnsHandler : public OBSocialSnsHandler,
                                   public OBSocialSnsHandlerDelegate,
                                   public std::enable_shared_from_this<OBSocialFacebookSnsHandler> {
 public:
  static std::shared_ptr<OBSocialFacebookSnsHandler> shareInstance();
  // Null for a name other than "facebook" and "twitter".
  std::shared_ptr<OBSocialSnsPlatform> getFacebookTwitterPlatform(const std::string& platformName);
  void clickHandlerWithSnsName(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                               const std::shared_ptr<OBSocialControllerService>& service) override;
};
