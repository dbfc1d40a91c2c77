#include "sharing/service/OBSEntityFactory.h"

#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"

namespace {

std::optional<std::string> text(const os::Value& value) {
  if (auto s = value.string()) return *s;
  if (value.isNumber()) return std::to_string(value.intValue());
  return std::nullopt;
}

std::int32_t count(const os::Value& value) { return static_cast<std::int32_t>(value.intValue()); }

void storeBar(OBSDataManager& manager, const os::Dictionary& data) {
  // The service's fields are replaced; what the application set to share stays.
  auto bar = manager.barEntity();
  bar->commentCount = count(data["cm"]);
  bar->likeCount = count(data["lk"]);
  bar->shareCount = count(data["sn"]);
  bar->isLike = data["fr"].boolValue();
  if (auto sid = text(data["sid"])) bar->sessionId = sid;
  if (auto ek = text(data["ek"]); ek && !ek->empty()) bar->entityKey = ek;
  manager.storeBarEntity();
  if (auto uid = text(data["uid"]); OBSUserManager::isUidAvailable(uid)) OBSUserManager::shareInstance()->setUid(uid);
}

void storeAccounts(const os::Dictionary& data, std::uint64_t askedAt) {
  const os::Dictionary* accounts = data["accounts"].dictionary();
  if (!accounts) return;
  OBSAccountDictionary rebuilt;
  for (const auto& [name, entry] : *accounts) {
    if (!entry.isDictionary()) continue;
    auto account = std::make_shared<OBSocialAccountEntity>(name);
    account->isFirstOauth = false;
    account->usid = text(entry["usid"]);
    if (auto v = text(entry["username"])) account->userName = v;
    if (auto v = text(entry["icon"])) account->iconURL = v;
    if (auto v = text(entry["access_token"])) account->accessToken = v;
    if (auto v = text(entry["profile_url"])) account->profileURL = v;
    if (auto v = text(entry["openid"])) account->openId = v;
    if (auto v = text(entry["refresh_token"])) account->refreshToken = v;
    if (entry["expiration"].isNumber())
      account->expirationDate = os::Date::fromTimeIntervalSince1970(entry["expiration"].doubleValue());
    rebuilt[name] = account;
  }
  OBSUserManager::shareInstance()->replaceSnsAccountsFromService(rebuilt, askedAt);
}

void storeFriends(const os::Dictionary& data, const std::string& platformName) {
  const os::Dictionary* friends = data["friends"].dictionary();
  if (!friends || platformName.empty()) return;
  OBSFriendDictionary stored;
  for (const auto& [id, entry] : *friends) {
    if (!entry.isDictionary()) continue;
    auto entity = std::make_shared<OBSFriendEntity>();
    entity->name = text(entry["name"]);
    entity->linkName = text(entry["link_name"]);
    entity->imageURL = text(entry["profile_image_url"]);
    entity->usid = text(entry["usid"]);
    if (!entity->usid) entity->usid = id;
    entity->pinyin = text(entry["pinyin"]);
    stored[id] = entity;
  }
  OBSUserManager::shareInstance()->setFriendsDictionary(stored, platformName);
}

}  // namespace

void OBSEntityFactory::storeAnswer(OBSDataManager& manager, std::int32_t action, const OBSocialJobParams& params,
                                   const os::Dictionary& answer) {
  const os::Dictionary* data = answer["data"].dictionary();
  if (!data) return;
  switch (action) {
    case 3: storeBar(manager, *data); break;
    case 10: storeAccounts(*data, params.accountsRevision); break;
    case 12: storeFriends(*data, params.values["displayName"].stringOr()); break;
    default: break;
  }
}
