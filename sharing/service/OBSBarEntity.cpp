#include "sharing/service/OBSBarEntity.h"

namespace {

void setText(os::Dictionary& d, const char* key, const std::optional<std::string>& text) {
  if (text) d.set(key, os::Value(*text));
}

std::optional<std::string> text(const os::Value& value) {
  if (auto s = value.string()) return *s;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> OBSBarEntity::shareTextFor(const std::string& platformName) const {
  if (auto data = getSnsData(platformName); data && data->shareText) return data->shareText;
  return shareText;
}

std::shared_ptr<os::Image> OBSBarEntity::shareImageFor(const std::string& platformName) const {
  if (auto data = getSnsData(platformName); data && data->shareImage) return data->shareImage;
  return shareImage;
}

std::shared_ptr<OBSocialUrlResource> OBSBarEntity::urlResourceFor(const std::string& platformName) const {
  if (auto data = getSnsData(platformName); data && data->urlResource && data->urlResource->resourceType != 0)
    return data->urlResource;
  return urlResource;
}

os::Dictionary OBSBarEntity::cacheValue() const {
  os::Dictionary d;
  setText(d, "entityKey", entityKey);
  setText(d, "sessionId", sessionId);
  d.set("isLike", os::Value(isLike));
  d.set("likeCount", os::Value(likeCount));
  d.set("shareCount", os::Value(shareCount));
  d.set("commentCount", os::Value(commentCount));
  return d;
}

std::shared_ptr<OBSBarEntity> OBSBarEntity::fromCacheValue(const os::Value& value) {
  if (!value.isDictionary()) return nullptr;
  auto bar = std::make_shared<OBSBarEntity>();
  bar->entityKey = text(value["entityKey"]);
  bar->sessionId = text(value["sessionId"]);
  bar->isLike = value["isLike"].boolValue();
  bar->likeCount = static_cast<std::int32_t>(value["likeCount"].intValue());
  bar->shareCount = static_cast<std::int32_t>(value["shareCount"].intValue());
  bar->commentCount = static_cast<std::int32_t>(value["commentCount"].intValue());
  return bar;
}

os::Dictionary OBSFriendEntity::cacheValue() const {
  os::Dictionary d;
  setText(d, "linkName", linkName);
  setText(d, "name", name);
  setText(d, "imageURL", imageURL);
  setText(d, "usid", usid);
  setText(d, "pinyin", pinyin);
  return d;
}

std::shared_ptr<OBSFriendEntity> OBSFriendEntity::fromCacheValue(const os::Value& value) {
  if (!value.isDictionary()) return nullptr;
  auto entity = std::make_shared<OBSFriendEntity>();
  entity->linkName = text(value["linkName"]);
  entity->name = text(value["name"]);
  entity->imageURL = text(value["imageURL"]);
  entity->usid = text(value["usid"]);
  entity->pinyin = text(value["pinyin"]);
  return entity;
}
