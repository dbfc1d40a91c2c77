#pragma once
// The share-bar record of one content identifier: the service's key and session for it, its
// counters, and everything the application set to share or comment.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialLocation.h"

namespace os {
class Image;
}

class OBSBarEntity {
 public:
  std::optional<std::string> entityKey;
  std::optional<std::string> sessionId;
  bool isLike = false;
  std::int32_t likeCount = 0;
  std::int32_t shareCount = 0;
  std::int32_t commentCount = 0;
  std::optional<std::string> shareText;
  std::shared_ptr<os::Image> shareImage;
  std::optional<std::string> commentText;
  std::shared_ptr<os::Image> commentImage;
  std::shared_ptr<OBSocialUrlResource> urlResource = std::make_shared<OBSocialUrlResource>();
  std::shared_ptr<OBSocialExtConfig> extConfig = std::make_shared<OBSocialExtConfig>();

  std::shared_ptr<OBSocialSnsData> getSnsData(const std::string& platformName) const {
    return extConfig ? extConfig->getSnsData(platformName) : nullptr;
  }
  // The platform's own value when set, else the record's.
  std::optional<std::string> shareTextFor(const std::string& platformName) const;
  std::shared_ptr<os::Image> shareImageFor(const std::string& platformName) const;
  std::shared_ptr<OBSocialUrlResource> urlResourceFor(const std::string& platformName) const;

  // The service's part (key, session, counters), as the cache keeps it.
  os::Dictionary cacheValue() const;
  static std::shared_ptr<OBSBarEntity> fromCacheValue(const os::Value& value);
};

// What one share is about to send.
class OBSSNSEntity {
 public:
  std::int32_t platformType = 0;
  std::optional<std::string> shareText;
  std::shared_ptr<os::Image> shareImage;
  std::shared_ptr<OBSocialUrlResource> urlResource;
  std::optional<OBSocialLocation> location;
  bool isSendImage = false;
  bool isSendUrlResource = false;
  bool isShake = false;
};

// A friend on a platform.
class OBSFriendEntity {
 public:
  static constexpr const char* kClassName = "OBSFriendEntity";
  std::optional<std::string> linkName, name, imageURL, usid, pinyin;
  os::Dictionary cacheValue() const;
  static std::shared_ptr<OBSFriendEntity> fromCacheValue(const os::Value& value);
};
