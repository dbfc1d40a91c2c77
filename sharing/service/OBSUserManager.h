#pragma once
// The reader's identity with the sharing service and what the component knows per platform: the
// service user id, the platform accounts, the friend lists and the platforms comments are also
// shared to. Kept in the user defaults, the documents list and the disk cache.
#include <functional>
#include <map>
#include <vector>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"

class OBSCacheManager;
class OBSocialAccountEntity;
class OBSocialCustomAccount;
class OBSFriendEntity;
class OBSocialResponseEntity;
using OBSocialCompletion = std::function<void(const std::shared_ptr<OBSocialResponseEntity>& response)>;

using OBSAccountDictionary = std::map<std::string, std::shared_ptr<OBSocialAccountEntity>>;
using OBSFriendDictionary = std::map<std::string, std::shared_ptr<OBSFriendEntity>>;

inline constexpr const char* kOBSocialUidKey = "OBSocial_uid";
inline constexpr const char* kOBSocialUseLocationKey = "userUseLocationSetting";

// The shared instances are made under the context's lock, and making one may ask this manager;
// so this manager never asks the context while holding its own lock: each operation takes the
// cache manager first.
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
  // Rebuilds the dictionary from the service's account list, which was asked for when the
  // dictionary stood at `askedAt` (see accountsRevision): an account stored here since then is
  // newer than anything the list can hold, and stays.
  void replaceSnsAccountsFromService(const OBSAccountDictionary& listed, std::uint64_t askedAt);
  // Grows with every change of a platform's account.
  std::uint64_t accountsRevision();
  std::shared_ptr<OBSocialAccountEntity> accountForPlatform(const std::string& platformName);

  os::Dictionary commentShareAccountDic();
  void setCommentShareAccountDic(const std::optional<os::Dictionary>& accounts);

  std::optional<OBSFriendDictionary> friendsDictionaryWithSnsName(const std::string& platformName);
  void setFriendsDictionary(const OBSFriendDictionary& friends, const std::string& platformName);
  std::optional<os::Array> atFriendsDictionaryWithSnsName(const std::string& platformName);
  void setAtFriendsArray(const os::Array& friends, const std::string& platformName);

  // The held name, else the one kept in the documents list.
  std::optional<std::string> userName();
  void setUserName(const std::optional<std::string>& name);

  // Platforms whose accounts the service keeps: qzone to wxtimeline and qq.
  static bool isPlatformTypeValid(const std::string& platformName);
  // The reader's location setting; true (and stored) on a fresh install.
  static bool useLocation();
  bool isSyncWithPlatform(const std::string& platformName);

  // Each queues one action; a request whose platform fails the check queues nothing and never
  // calls its closure.
  void requestSnsAccount(OBSocialCompletion completion);
  void requestAddSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion);
  void requestIsTokenValid(const std::vector<std::string>& platformNames, OBSocialCompletion completion);
  void requestAppInfo(OBSocialCompletion completion);
  void requestSnsInformation(const std::string& platformName, OBSocialCompletion completion);
  void requestBindingSNSWithTye(const std::string& platformName, OBSocialCompletion completion);
  void requestUnBindingSNS(OBSocialCompletion completion);
  void requestUnOauthToPlatform(const std::string& platformName, OBSocialCompletion completion);
  void requestGetFriends(const std::string& platformName, OBSocialCompletion completion);
  void requestAddFollow(const std::string& platformName, const std::vector<std::string>& followedUsids,
                        OBSocialCompletion completion);
  void requestAddCustomAccount(const std::shared_ptr<OBSocialCustomAccount>& account, OBSocialCompletion completion);

 private:
  OBSAccountDictionary accountsIn(OBSCacheManager& cache);
  void storeAccounts(const OBSAccountDictionary& accounts, OBSCacheManager& cache);
  std::string friendsCacheKey(const std::string& platformName, OBSCacheManager& cache);

  std::recursive_mutex mutex_;
  std::optional<std::string> uid_;
  OBSAccountDictionary accounts_;
  std::uint64_t accountsRevision_ = 0;
  std::map<std::string, std::uint64_t> accountChangedAt_;
  os::Dictionary commentShareAccountDic_;
  std::map<std::string, OBSFriendDictionary> friends_;
  std::map<std::string, os::Array> atFriends_;
  std::optional<std::string> userName_;
};
