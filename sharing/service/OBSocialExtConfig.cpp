#include "sharing/service/OBSocialExtConfig.h"

#include "sharing/service/OBUtils.h"

std::shared_ptr<OBSocialUrlResource> OBSocialUrlResource::initWithSnsResourceType(std::int32_t type,
                                                                                  std::optional<std::string> url) {
  if (type == OBSocialUrlResourceTypeDefault) return nullptr;
  auto resource = std::make_shared<OBSocialUrlResource>();
  resource->setResourceType(type);
  resource->url = std::move(url);
  return resource;
}

void OBSocialUrlResource::setResourceType(std::int32_t type) {
  if (static_cast<std::uint32_t>(type) <= OBSocialUrlResourceTypeMusic) {
    resourceType = type;
    return;
  }
  resourceType = OBSocialUrlResourceTypeDefault;
  OBUtils::outLog(
      "you must set the resourceType in OBSocialUrlResourceTypeImage,OBSocialUrlResourceTypeVideo,"
      "OBSocialUrlResourceTypeMusic");
}

void OBSocialUrlResource::setResourceType(std::int32_t type, std::optional<std::string> newUrl) {
  setResourceType(type);
  if (resourceType != OBSocialUrlResourceTypeDefault) url = std::move(newUrl);
}

OBSocialExtConfig::OBSocialExtConfig()
    : sinaData(std::make_shared<OBSocialSnsData>("sina")),
      velmoraData(std::make_shared<OBSocialSnsData>("velmora")),
      wechatSessionData(std::make_shared<OBSocialSnsData>("wxsession")),
      wechatTimelineData(std::make_shared<OBSocialSnsData>("wxtimeline")),
      wechatFavoriteData(std::make_shared<OBSocialSnsData>("wxfavorate")),
      qqData(std::make_shared<OBSocialSnsData>("qq")),
      qzoneData(std::make_shared<OBSocialSnsData>("qzone")),
      renrenData(std::make_shared<OBSocialSnsData>("renren")),
      doubanData(std::make_shared<OBSocialSnsData>("douban")),
      emailData(std::make_shared<OBSocialSnsData>("email")),
      smsData(std::make_shared<OBSocialSnsData>("sms")),
      facebookData(std::make_shared<OBSocialSnsData>("facebook")),
      twitterData(std::make_shared<OBSocialSnsData>("twitter")),
      yxsessionData(std::make_shared<OBSocialSnsData>("yxsession")),
      yxtimelineData(std::make_shared<OBSocialSnsData>("yxtimeline")),
      lwsessionData(std::make_shared<OBSocialSnsData>("lwsession")),
      lwtimelineData(std::make_shared<OBSocialSnsData>("lwtimeline")),
      instagramData(std::make_shared<OBSocialSnsData>("instagram")) {}

std::shared_ptr<OBSocialSnsData> OBSocialExtConfig::getSnsData(const std::string& name) const {
  if (name == "sina") return sinaData;
  if (name == "velmora") return velmoraData;
  if (name == "wxsession") return wechatSessionData;
  if (name == "wxtimeline") return wechatTimelineData;
  if (name == "wxfavorite") return wechatFavoriteData;
  if (name == "qzone") return qzoneData;
  if (name == "renren") return renrenData;
  if (name == "douban") return doubanData;
  if (name == "email") return emailData;
  if (name == "sms") return smsData;
  if (name == "facebook") return facebookData;
  if (name == "twitter") return twitterData;
  if (name == "qq") return qqData;
  if (name == "laiwang") return lwsessionData;
  if (name == "laiwang_dynamic") return lwtimelineData;
  if (name == "yixin") return yxsessionData;
  if (name == "yixin_circle") return yxtimelineData;
  if (name == "instagram") return instagramData;
  return nullptr;
}
