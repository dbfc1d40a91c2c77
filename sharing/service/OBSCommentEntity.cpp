#include "sharing/service/OBSCommentEntity.h"

#include <cstdio>

#include "os/core/Date.h"

namespace {

std::string format(const char* pattern, long long n) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, n);
  return buffer;
}

void encodeText(os::KeyedArchiver& coder, const std::optional<std::string>& text, const char* key) {
  if (text) coder.encodeObject(os::Value(*text), key);
}

}  // namespace

std::string OBSCommentEntity::getDateString() const {
  // Whole seconds on 64 bits on both sides: a 32-bit "now" would wrap in 2038 and make every
  // comment read as days in the future.
  long long now = static_cast<long long>(os::Date::now().timeIntervalSince1970());
  long long s = now - dateInterval / 1000;
  if (s >= -59 && s <= 59) return format("%lld 秒前", s < 0 ? 0 : s);
  // Further in the future than a minute: a clock skew, not an age; still "just now".
  if (s < 0) return format("%lld 秒前", 0);
  if (s <= 3659) return format("%lld 分钟前", s / 60);
  if (s <= 89999) return format("%lld 小时前", s / 3600);
  return format("%lld 天前", s / 86400);
}

std::string OBSCommentEntity::description() const {
  os::Dictionary d;
  // The platform's dictionary literal stops at the first missing value.
  if (content) {
    d.set("_content", os::Value(*content));
    if (nickName) {
      d.set("_nickName", os::Value(*nickName));
      d.set("_dateInterval", os::Value(static_cast<long long>(dateInterval)));
    }
  }
  return os::Value(std::move(d)).description();
}

void OBSCommentEntity::encodeWithCoder(os::KeyedArchiver& coder) const {
  encodeText(coder, uid, "uid");
  encodeText(coder, content, "content");
  encodeText(coder, nickName, "nickName");
  encodeText(coder, userAvatar, "userAvatar");
  if (location) coder.encodeObject(OBSocialLocationArchiveValue(*location), "location");
  coder.encodeDouble(static_cast<double>(dateInterval), "dateInterval");
}

std::shared_ptr<OBSCommentEntity> OBSCommentEntity::decode(os::KeyedUnarchiver& coder) {
  auto comment = std::make_shared<OBSCommentEntity>();
  comment->uid = coder.decodeString("uid");
  comment->content = coder.decodeString("content");
  comment->nickName = coder.decodeString("nickName");
  comment->userAvatar = coder.decodeString("userAvatar");
  if (auto value = coder.decodeValue("location")) comment->location = OBSocialLocationFromArchiveValue(*value);
  comment->dateInterval = static_cast<std::int64_t>(coder.decodeDouble("dateInterval"));
  return comment;
}

os::ArchiveClassRegistry& OBSCommentEntity::addToRegistry(os::ArchiveClassRegistry& registry) {
  return registry.add(kClassName, [](os::KeyedUnarchiver& coder) { return decode(coder); });
}
