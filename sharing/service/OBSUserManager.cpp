#include "sharing/service/OBSUserManager.h"

#include "os/core/String.h"
#include "os/store/UserDefaults.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBUtils.h"

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
  {
    std::lock_guard lock(mutex_);
    if (isUidAvailable(uid_)) return uid_;
  }
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

OBSAccountDictionary OBSUserManager::snsAccountDictionary() { return accountsIn(*OBSCacheManager::shareInstance()); }

OBSAccountDictionary OBSUserManager::accountsIn(OBSCacheManager& cache) {
  std::lock_guard lock(mutex_);
  if (auto item = cache.changeVariableFromCache(kAccountsCacheKey, accountRegistry());
      item && item->entries()) {
    OBSAccountDictionary loaded;
    for (const auto& [name, entry] : *item->entries())
      if (auto account = entry.objectAs<OBSocialAccountEntity>()) loaded[name] = account;
    accounts_ = std::move(loaded);
  }
  return accounts_;
}

void OBSUserManager::setSnsAccountDictionary(const OBSAccountDictionary& accounts) {
  storeAccounts(accounts, *OBSCacheManager::shareInstance());
}

void OBSUserManager::storeAccounts(const OBSAccountDictionary& accounts, OBSCacheManager& cache) {
  std::lock_guard lock(mutex_);
  for (const auto& [name, account] : accounts)
    if (auto held = accounts_.find(name); held == accounts_.end() || held->second != account)
      accountChangedAt_[name] = ++accountsRevision_;
  accounts_ = accounts;
  os::ArchiveItem::Entries entries;
  for (const auto& [name, account] : accounts)
    if (account) entries.emplace_back(name, os::ArchiveItem(account));
  cache.setCacheToVariable(os::ArchiveItem::dictionary(std::move(entries)), kAccountsCacheKey);
}

void OBSUserManager::replaceSnsAccountsFromService(const OBSAccountDictionary& listed, std::uint64_t askedAt) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  OBSAccountDictionary rebuilt = listed;
  for (const auto& [name, account] : accountsIn(*cache))
    if (auto changed = accountChangedAt_.find(name); changed != accountChangedAt_.end() && changed->second > askedAt)
      rebuilt[name] = account;
  storeAccounts(rebuilt, *cache);
}

std::uint64_t OBSUserManager::accountsRevision() {
  std::lock_guard lock(mutex_);
  return accountsRevision_;
}

std::shared_ptr<OBSocialAccountEntity> OBSUserManager::accountForPlatform(const std::string& platformName) {
  auto accounts = snsAccountDictionary();
  auto found = accounts.find(platformName);
  return found == accounts.end() ? nullptr : found->second;
}

os::Dictionary OBSUserManager::commentShareAccountDic() {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  if (auto item = cache->changeVariableFromCache(kCommentShareCacheKey)) {
    if (auto value = item->toValue(); value && value->dictionary()) commentShareAccountDic_ = *value->dictionary();
  }
  return commentShareAccountDic_;
}

void OBSUserManager::setCommentShareAccountDic(const std::optional<os::Dictionary>& accounts) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  commentShareAccountDic_ = accounts.value_or(os::Dictionary{});
  cache->setCacheToVariable(os::ArchiveItem(os::Value(commentShareAccountDic_)),
                                                      kCommentShareCacheKey);
}

std::string OBSUserManager::friendsCacheKey(const std::string& platformName, OBSCacheManager& cache) {
  auto accounts = accountsIn(cache);
  auto found = accounts.find(platformName);
  auto account = found == accounts.end() ? nullptr : found->second;
  std::string usid = account && account->usid ? *account->usid : "";
  return std::string(OBSFriendEntity::kClassName) + "-" + platformName + "-" + usid;
}

std::optional<OBSFriendDictionary> OBSUserManager::friendsDictionaryWithSnsName(const std::string& platformName) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  auto held = friends_.find(platformName);
  if (held != friends_.end()) return held->second;
  auto item = cache->changeVariableFromCache(friendsCacheKey(platformName, *cache));
  auto value = item ? item->toValue() : std::nullopt;
  if (!value || !value->dictionary()) return std::nullopt;
  OBSFriendDictionary friends;
  for (const auto& [id, entry] : *value->dictionary())
    if (auto entity = OBSFriendEntity::fromCacheValue(entry)) friends[id] = entity;
  friends_[platformName] = friends;
  return friends;
}

void OBSUserManager::setFriendsDictionary(const OBSFriendDictionary& friends, const std::string& platformName) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  friends_[platformName] = friends;
  os::Dictionary stored;
  for (const auto& [id, entity] : friends)
    if (entity) stored.set(id, os::Value(entity->cacheValue()));
  cache->setCacheToVariable(os::ArchiveItem(os::Value(std::move(stored))), friendsCacheKey(platformName, *cache));
}

std::optional<os::Array> OBSUserManager::atFriendsDictionaryWithSnsName(const std::string& platformName) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  auto held = atFriends_.find(platformName);
  if (held != atFriends_.end()) return held->second;
  auto item = cache->changeVariableFromCache(friendsCacheKey(platformName, *cache) + "-at");
  auto value = item ? item->toValue() : std::nullopt;
  if (!value || !value->array()) return std::nullopt;
  atFriends_[platformName] = *value->array();
  return *value->array();
}

void OBSUserManager::setAtFriendsArray(const os::Array& friends, const std::string& platformName) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  atFriends_[platformName] = friends;
  cache->setCacheToVariable(os::ArchiveItem(os::Value(friends)), friendsCacheKey(platformName, *cache) + "-at");
}

std::optional<std::string> OBSUserManager::userName() {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  if (!userName_)
    if (auto kept = cache->getValueFromDocument("userName"); kept && kept->string())
      userName_ = *kept->string();
  return userName_;
}

void OBSUserManager::setUserName(const std::optional<std::string>& name) {
  auto cache = OBSCacheManager::shareInstance();
  std::lock_guard lock(mutex_);
  userName_ = name;
  cache->setValueInDocument(name ? os::Value(*name) : os::Value(), "userName");
}

bool OBSUserManager::isPlatformTypeValid(const std::string& platformName) {
  int type = OBSocialSnsPlatformManagerInternal::getSnsPlatformType(platformName);
  if (type == 0) return false;
  if ((type >= 10 && type <= 16) || type == 20) return true;
  OBUtils::outLog(type < 10 ? "snsType invalid!" : "This platform can not do the action!");
  return false;
}

bool OBSUserManager::useLocation() {
  auto defaults = os::UserDefaults::standardUserDefaults();
  if (!defaults->objectForKey(kOBSocialUseLocationKey)) {
    defaults->setObject(os::Value(true), kOBSocialUseLocationKey);
    defaults->synchronize();
    return true;
  }
  return defaults->boolForKey(kOBSocialUseLocationKey);
}

bool OBSUserManager::isSyncWithPlatform(const std::string& platformName) {
  return commentShareAccountDic().contains(platformName);
}

namespace {

OBSocialJobParams withCompletion(OBSocialCompletion completion, os::Dictionary values = {}) {
  OBSocialJobParams params;
  params.values = std::move(values);
  params.completion = std::move(completion);
  return params;
}

bool queue(std::int32_t action, OBSocialJobParams params) {
  return OBSDataManager::currentDataManager()->doActionWithType(action, std::move(params));
}

// A platform the action does not serve: nothing is queued, and the caller hears so, once, rather
// than waiting for an answer that never comes.
void refuse(std::int32_t action, const OBSocialCompletion& completion, const std::string& platformName) {
  if (!completion) return;
  auto response = OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "the platform does not serve this action", action);
  response->data = os::Dictionary{{platformName, os::Value("")}};
  completion(response);
}

}  // namespace

void OBSUserManager::requestSnsAccount(OBSocialCompletion completion) {
  if (!uid()) {
    // The bar data's answer assigns the service user id.
    std::weak_ptr<OBSUserManager> weak = OBSUserManager::shareInstance();
    OBSDataManager::currentDataManager()->requestBarInfo(
        [weak, completion](const std::shared_ptr<OBSocialResponseEntity>& response) {
          auto self = weak.lock();
          if (self && response->responseCode == OBSocialResponseCodeSuccess && self->uid())
            return self->requestSnsAccount(completion);
          // Without a service user id there are no accounts to ask for. The caller still hears
          // why: the account upload after a login keeps its progress panel up until it does.
          if (completion) completion(response);
        });
    return;
  }
  auto params = withCompletion(std::move(completion));
  params.accountsRevision = accountsRevision();
  queue(10, std::move(params));
}

void OBSUserManager::requestAddSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account,
                                          OBSocialCompletion completion) {
  auto params = withCompletion(std::move(completion));
  params.snsAccount = account;
  queue(15, std::move(params));
}

void OBSUserManager::requestIsTokenValid(const std::vector<std::string>& platformNames, OBSocialCompletion completion) {
  queue(17, withCompletion(std::move(completion), os::Dictionary{{"platforms", os::Value(os::join(platformNames, ","))}}));
}

void OBSUserManager::requestAppInfo(OBSocialCompletion completion) { queue(16, withCompletion(std::move(completion))); }

void OBSUserManager::requestSnsInformation(const std::string& platformName, OBSocialCompletion completion) {
  if (!isPlatformTypeValid(platformName)) return refuse(11, completion, platformName);
  queue(11, withCompletion(std::move(completion), os::Dictionary{{"displayName", os::Value(platformName)}}));
}

void OBSUserManager::requestBindingSNSWithTye(const std::string& platformName, OBSocialCompletion completion) {
  if (!isPlatformTypeValid(platformName)) return refuse(6, completion, platformName);
  queue(6, withCompletion(std::move(completion), os::Dictionary{{"displayName", os::Value(platformName)}}));
  requestSnsAccount(nullptr);
}

void OBSUserManager::requestUnBindingSNS(OBSocialCompletion completion) {
  std::weak_ptr<OBSUserManager> weak = OBSUserManager::shareInstance();
  queue(7, withCompletion([weak, completion](const std::shared_ptr<OBSocialResponseEntity>& response) {
          auto self = weak.lock();
          if (self && response->responseCode == OBSocialResponseCodeSuccess) {
            auto accounts = self->snsAccountDictionary();
            accounts.erase("loginAccount");
            accounts.erase("defaultAccount");
            self->setSnsAccountDictionary(accounts);
          }
          if (completion) completion(response);
        }));
}

void OBSUserManager::requestUnOauthToPlatform(const std::string& platformName, OBSocialCompletion completion) {
  if (!isPlatformTypeValid(platformName)) return refuse(8, completion, platformName);
  std::weak_ptr<OBSUserManager> weak = OBSUserManager::shareInstance();
  queue(8, withCompletion(
               [weak, completion, platformName](const std::shared_ptr<OBSocialResponseEntity>& response) {
                 auto self = weak.lock();
                 if (self && response->responseCode == OBSocialResponseCodeSuccess) {
                   auto accounts = self->snsAccountDictionary();
                   accounts.erase(platformName);
                   self->setSnsAccountDictionary(accounts);
                 }
                 if (completion) completion(response);
               },
               os::Dictionary{{"displayName", os::Value(platformName)}}));
}

void OBSUserManager::requestGetFriends(const std::string& platformName, OBSocialCompletion completion) {
  if (!isPlatformTypeValid(platformName)) return refuse(12, completion, platformName);
  queue(12, withCompletion(std::move(completion), os::Dictionary{{"displayName", os::Value(platformName)}}));
}

void OBSUserManager::requestAddFollow(const std::string& platformName, const std::vector<std::string>& followedUsids,
                                      OBSocialCompletion completion) {
  if (!isPlatformTypeValid(platformName)) return refuse(13, completion, platformName);
  queue(13, withCompletion(std::move(completion), os::Dictionary{{"displayName", os::Value(platformName)},
                                                                 {"fusid", os::Value(os::join(followedUsids, ","))}}));
}

void OBSUserManager::requestAddCustomAccount(const std::shared_ptr<OBSocialCustomAccount>& account,
                                             OBSocialCompletion completion) {
  auto params = withCompletion(std::move(completion));
  params.customAccount = account;
  queue(14, std::move(params));
}
