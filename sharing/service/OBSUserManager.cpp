#include "sharing/service/OBSUserManager.h"

#include "os/core/String.h"
#include "os/store/UserDefaults.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialContext.h"

namespace {

constexpr const char* kAccountsCacheKey = "OBSocialAccountEntity";
constexpr const char* kCommentShareCacheKey = "CommentShareAccountDic";

os::ArchiveClassRegistry accountRegistry() {
  os::ArchiveClassRegistry registry;
  OBSocialAccountEntity::addToRegistry(registry);
  return registry;
}

}  // namespace

OBSUserManager::OBSUserManager() {
  accounts_ = snsAccountDictionary();
  commentShareAccountDic_ = commentShareAccountDic();
}

std::shared_ptr<OBSUserManager> OBSUserManager::shareInstance() { return OBSocialContext::shared<OBSUserManager>(); }

bool OBSUserManager::isUidAvailable(const std::optional<std::string>& uid) {
  return uid && !os::contains(os::lowercaseASCII(*uid), "null");
}

std::optional<std::string> OBSUserManager::uid() {
  std::lock_guard lock(mutex_);
  if (isUidAvailable(uid_)) return uid_;
  if (auto stored = os::UserDefaults::standardUserDefaults()->stringForKey(kOBSocialUidKey); isUidAvailable(stored))
    return stored;
  auto key = "uid-" + OBSDataManagerSet::shareInstance()->appkey();
  if (auto kept = OBSCacheManager::shareInstance()->getValueFromDocument(key); kept && kept->string() &&
                                                                               isUidAvailable(*kept->string()))
    return *kept->string();
  return std::nullopt;
}

void OBSUserManager::setUid(const std::optional<std::string>& uid) {
  std::lock_guard lock(mutex_);
  uid_ = uid;
  auto defaults = os::UserDefaults::standardUserDefaults();
  if (uid)
    defaults->setObject(os::Value(*uid), kOBSocialUidKey);
  else
    defaults->removeObjectForKey(kOBSocialUidKey);
  defaults->synchronize();
}

OBSAccountDictionary OBSUserManager::snsAccountDictionary() {
  std::lock_guard lock(mutex_);
  if (auto item = OBSCacheManager::shareInstance()->changeVariableFromCache(kAccountsCacheKey, accountRegistry());
      item && item->entries()) {
    OBSAccountDictionary loaded;
    for (const auto& [name, entry] : *item->entries())
      if (auto account = entry.objectAs<OBSocialAccountEntity>()) loaded[name] = account;
    accounts_ = std::move(loaded);
  }
  return accounts_;
}

void OBSUserManager::setSnsAccountDictionary(const OBSAccountDictionary& accounts) {
  std::lock_guard lock(mutex_);
  accounts_ = accounts;
  os::ArchiveItem::Entries entries;
  for (const auto& [name, account] : accounts)
    if (account) entries.emplace_back(name, os::ArchiveItem(account));
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem::dictionary(std::move(entries)), kAccountsCacheKey);
}

std::shared_ptr<OBSocialAccountEntity> OBSUserManager::accountForPlatform(const std::string& platformName) {
  auto accounts = snsAccountDictionary();
  auto found = accounts.find(platformName);
  return found == accounts.end() ? nullptr : found->second;
}

os::Dictionary OBSUserManager::commentShareAccountDic() {
  std::lock_guard lock(mutex_);
  if (auto item = OBSCacheManager::shareInstance()->changeVariableFromCache(kCommentShareCacheKey)) {
    if (auto value = item->toValue(); value && value->dictionary()) commentShareAccountDic_ = *value->dictionary();
  }
  return commentShareAccountDic_;
}

void OBSUserManager::setCommentShareAccountDic(const std::optional<os::Dictionary>& accounts) {
  std::lock_guard lock(mutex_);
  commentShareAccountDic_ = accounts.value_or(os::Dictionary{});
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem(os::Value(commentShareAccountDic_)),
                                                      kCommentShareCacheKey);
}

std::string OBSUserManager::friendsCacheKey(const std::string& platformName) {
  auto account = accountForPlatform(platformName);
  std::string usid = account && account->usid ? *account->usid : "";
  return std::string(OBSFriendEntity::kClassName) + "-" + platformName + "-" + usid;
}

std::optional<OBSFriendDictionary> OBSUserManager::friendsDictionaryWithSnsName(const std::string& platformName) {
  std::lock_guard lock(mutex_);
  auto held = friends_.find(platformName);
  if (held != friends_.end()) return held->second;
  auto item = OBSCacheManager::shareInstance()->changeVariableFromCache(friendsCacheKey(platformName));
  auto value = item ? item->toValue() : std::nullopt;
  if (!value || !value->dictionary()) return std::nullopt;
  OBSFriendDictionary friends;
  for (const auto& [id, entry] : *value->dictionary())
    if (auto entity = OBSFriendEntity::fromCacheValue(entry)) friends[id] = entity;
  friends_[platformName] = friends;
  return friends;
}

void OBSUserManager::setFriendsDictionary(const OBSFriendDictionary& friends, const std::string& platformName) {
  std::lock_guard lock(mutex_);
  friends_[platformName] = friends;
  os::Dictionary stored;
  for (const auto& [id, entity] : friends)
    if (entity) stored.set(id, os::Value(entity->cacheValue()));
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem(os::Value(std::move(stored))),
                                                      friendsCacheKey(platformName));
}
