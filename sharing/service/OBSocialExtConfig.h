#pragma once
// Links attached to a share, and the per-platform share content: one content object per platform,
// each with the fields its platform's handler reads.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"

namespace os {
class Image;
}

enum OBSocialUrlResourceType : std::int32_t {
  OBSocialUrlResourceTypeDefault = 0,
  OBSocialUrlResourceTypeImage = 1,
  OBSocialUrlResourceTypeVideo = 2,
  OBSocialUrlResourceTypeMusic = 3,
};

class OBSocialUrlResource {
 public:
  std::int32_t resourceType = OBSocialUrlResourceTypeDefault;
  std::optional<std::string> url;
};

// One platform's content. The label is the content's own name, not always the platform's
// ("wxfavorate", "yxsession", "lwsession").
class OBSocialSnsData {
 public:
  explicit OBSocialSnsData(std::string snsName)
      : snsName(std::move(snsName)), urlResource(std::make_shared<OBSocialUrlResource>()) {}

  std::string snsName;
  std::optional<std::string> shareText;
  std::shared_ptr<os::Image> shareImage;
  std::optional<os::Data> shareImageData;  // raw image bytes given instead of an image
  std::shared_ptr<OBSocialUrlResource> urlResource;

  // Fields of particular platforms; the rest leave them unset.
  std::optional<std::string> title;     // velmora, qzone, qq, messenger, email, facebook
  std::optional<std::string> author;    // velmora
  std::optional<std::string> url;       // qzone, qq, messenger, renren, laiwang, yixin
  std::optional<std::string> appName;   // renren
  std::optional<std::string> urlString; // facebook
  std::optional<os::Data> fileData;     // messenger
  std::optional<std::string> extInfo;   // messenger
  std::int32_t wxMessageType = 0;
  std::int32_t qqMessageType = 0;
  std::int32_t yxMessageType = 0;
};

class OBSocialExtConfig {
 public:
  OBSocialExtConfig();

  std::shared_ptr<OBSocialSnsData> sinaData, velmoraData, wechatSessionData, wechatTimelineData, wechatFavoriteData,
      qqData, qzoneData, renrenData, doubanData, emailData, smsData, facebookData, twitterData, yxsessionData,
      yxtimelineData, lwsessionData, lwtimelineData, instagramData;
  std::optional<std::string> title;
  std::int32_t wxMessageType = 0;

  // The content object of a platform name; null for a name without one.
  std::shared_ptr<OBSocialSnsData> getSnsData(const std::string& platformName) const;
};
