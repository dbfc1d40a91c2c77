#pragma once
// Turns an action number and its parameters into a job: the sharing service's vocabulary of
// paths, parameter names and operation codes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sharing/service/OBSocialJob.h"

inline constexpr const char* kOBSocialMissingAppKeyMessage =
    "Ombra SocialSDK --- You haven't set the Ombra Appkey,please use [OBSocialData setAppKey:@\"6c3f0e9a2b7d41580a9e3c12\"]; before you use other APIs.";

class OBSocialJobFactory {
 public:
  static std::shared_ptr<OBSocialJobFactory> sharedInstance();

  // Nothing until an application key is set, and nothing for an action that needs an account or
  // a service user id the reader does not have.
  std::shared_ptr<OBSocialJob> createSocialJob(std::int32_t action, const OBSocialJobParams& params);
  std::shared_ptr<OBSocialJob> createVirtualSocialJob(std::int32_t action, const OBSocialJobParams& params);
  // Rebuilds path, body and way from the stored action and parameters (action 3 keeps its path).
  bool updateJob(OBSocialJob& job);

  // The bar record's key, "-1" when there is none.
  std::string getEntityKey();
  os::Dictionary getPostCommentBaseDictionary(const OBSocialJobParams& params);
  os::Dictionary getPostLikeBaseDictionary(const std::string& like);
  os::Dictionary getPostShareBaseDictionary(const std::string& platformName);
  os::Dictionary getPostShareMultiBaseDictionary(const OBSocialJobParams& params);
  os::Dictionary getBindingBaseDictionary(const std::string& platformName);

 private:
  bool build(OBSocialJob& job, bool keepPath);
};
