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
class WXMediaObject;

enum OBSocialUrlResourceType : std::int32_t {
  OBSocialUrlResourceTypeDefault = 0,
  OBSocialUrlResourceTypeImage = 1,
  OBSocialUrlResourceTypeVideo = 2,
  OBSocialUrlResourceTypeMusic = 3,
};

class OBSocialUrlResource {
 public:
  // A resource of the type with the URL; none for type 0. A type beyond the known ones is stored
  // as 0 (with a log line) and the URL kept.
  static std::shared_ptr<OBSocialUrlResource> initWithSnsResourceType(std::int32_t type, std::optional<std::string> url);

  // 0 to 3; anything else stores 0 and logs.
  void setResourceType(std::int32_t type);
  // The type as above; the URL only when the stored type is not 0.
  void setResourceType(std::int32_t type, std::optional<std::string> url);

  std::int32_t resourceType = OBSocialUrlResourceTypeDefault;
  std::optional<std::string> url;
};

// What a messenger share sends. 0 leaves the choice to the messenger handler: the link as a web
// page, as any other value it does not know.
enum OBSocialWXMessageType : std::int32_t {
  OBSocialWXMessageTypeNone = 0,
  OBSocialWXMessageTypeText = 1,   // the share text alone
  OBSocialWXMessageTypeImage = 2,  // the picture (or the content's file data as the picture)
  OBSocialWXMessageTypeApp = 3,    // the content's extInfo, file data and link, for the application's own use
  OBSocialWXMessageTypeWeb = 4,    // the link as a web page
  OBSocialWXMessageTypeOther = 5,  // the media object of the extra content, as given
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
  // A messenger media object the caller built; the messenger handler sends it as it is.
  std::shared_ptr<WXMediaObject> wxMediaObject;

  // The content object of a platform name; null for a name without one.
  std::shared_ptr<OBSocialSnsData> getSnsData(const std::string& platformName) const;
};
