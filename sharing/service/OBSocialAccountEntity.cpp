#include "sharing/service/OBSocialAccountEntity.h"

OBSocialAccountEntity::OBSocialAccountEntity(std::string name)
    : platformName(std::move(name)), userName(""), usid(""), iconURL(""), accessToken(""), profileURL(""),
      isFirstOauth(true) {}

std::string OBSocialAccountEntity::description() const {
  os::Dictionary d;
  // As the platform's dictionary literal: the pairs stop at the first missing value.
  const std::pair<const char*, const std::optional<std::string>*> texts[] = {
      {"platformName", &platformName}, {"userName", &userName},       {"usid", &usid},
      {"iconURL", &iconURL},           {"accessToken", &accessToken}, {"profileURL", &profileURL}};
  for (const auto& [key, value] : texts) {
    if (!*value) return os::Value(std::move(d)).description();
    d.set(key, os::Value(**value));
  }
  if (expirationDate) d.set("expirationDate", os::Value(*expirationDate));
  return os::Value(std::move(d)).description();
}

void OBSocialAccountEntity::encodeWithCoder(os::KeyedArchiver& coder) const {
  auto text = [&](const std::optional<std::string>& value, const char* key) {
    if (value) coder.encodeObject(os::Value(*value), key);
  };
  text(platformName, "platformName");
  text(userName, "userName");
  text(usid, "usid");
  text(iconURL, "iconURL");
  text(accessToken, "accessToken");
  text(profileURL, "profileURL");
  if (expirationDate) coder.encodeObject(os::Value(*expirationDate), "expirationDate");
  // Without them a QQ or QZone account read back could not upload its token again.
  text(openId, "openId");
  text(refreshToken, "refreshToken");
}

std::shared_ptr<OBSocialAccountEntity> OBSocialAccountEntity::decode(os::KeyedUnarchiver& coder) {
  auto account = std::make_shared<OBSocialAccountEntity>();
  account->platformName = coder.decodeString("platformName");
  account->userName = coder.decodeString("userName");
  account->usid = coder.decodeString("usid");
  account->iconURL = coder.decodeString("iconURL");
  account->accessToken = coder.decodeString("accessToken");
  account->profileURL = coder.decodeString("profileURL");
  if (auto value = coder.decodeValue("expirationDate")) account->expirationDate = value->date();
  account->openId = coder.decodeString("openId");
  account->refreshToken = coder.decodeString("refreshToken");
  account->isFirstOauth = false;
  return account;
}

os::ArchiveClassRegistry& OBSocialAccountEntity::addToRegistry(os::ArchiveClassRegistry& registry) {
  return registry.add(kClassName, [](os::KeyedUnarchiver& coder) { return decode(coder); });
}
