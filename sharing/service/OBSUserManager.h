#pragma once
// The reader's identity with the sharing service and what the component knows per platform: the
// service user id, the platform accounts, the friend lists and the platforms comments are also
// shared to. Kept in the user defaults, the documents list and the disk cache.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"

class OBSocialAccountEntity;
class OBSFriendEntity;

using OBSAccountDictionary = std::map<std::string, std::shared_ptr<OBSocialAccountEntity>>;
using OBSFriendDictionary = std::map<std::string, std::shared_ptr<OBSFriendEntity>>;

inline constexpr const char* kOBSocialUidKey = "OBSocial_uid";

class OBSUserManager {
 public:
  OBSUserManager();
  static std::shared_ptr<OBSUserManager> shareInstance();

  // The held id when usable, else the one kept in the defaults, else the documents list's.
  std::optional<std::string> uid();
  void setUid(const std::optional<std::string>& uid);
  // False for nothing and for anything whose lower-case form contains "null".
  static bool isUidAvailable(const std::optional<std::string>& uid);

  // Reloaded from the disk cache when it holds a live copy.
  OBSAccountDictionary snsAccountDictionary();
  void setSnsAccountDictionary(const OBSAccountDictionary& accounts);
  std::shared_ptr<OBSocialAccountEntity> accountForPlatform(const std::string& platformName);

  os::Dictionary commentShareAccountDic();
  void setCommentShareAccountDic(const std::optional<os::Dictionary>& accounts);

  std::optional<OBSFriendDictionary> friendsDictionaryWithSnsName(const std::string& platformName);
  void setFriendsDictionary(const OBSFriendDictionary& friends, const std::string& platformName);

 private:
  std::string friendsCacheKey(const std::string& platformName);

  std::recursive_mutex mutex_;
  std::optional<std::string> uid_;
  OBSAccountDictionary accounts_;
  os::Dictionary commentShareAccountDic_;
  std::map<std::string, OBSFriendDictionary> friends_;
};
