#include "sharing/service/OBSocialData.h"

#include "foundation/ServiceCallLog.h"
#include "os/core/Log.h"
#include "os/graphics/ImageCodec.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBUtils.h"

namespace {

struct DefaultData {
  std::shared_ptr<OBSocialData> data;
};

}  // namespace

OBSocialData::OBSocialData(const std::string& identifier) {
  setIdentifier(identifier);
  setExtConfig(std::make_shared<OBSocialExtConfig>());
  bar()->urlResource = std::make_shared<OBSocialUrlResource>();
}

OBSocialData::OBSocialData(const std::string& identifier, const std::string& title) : OBSocialData(identifier) {
  setTitle(title);
}

std::shared_ptr<OBSocialData> OBSocialData::defaultData() {
  return OBSocialContext::current()
      ->instance<DefaultData>([] { return std::make_shared<DefaultData>(DefaultData{std::make_shared<OBSocialData>(kOBSocialDefaultIdentifier)}); })
      ->data;
}

std::string OBSocialData::appKey() { return OBSDataManagerSet::shareInstance()->appkey(); }

void OBSocialData::setAppKey(const std::string& appKey) {
  ServiceCallLog::record("OBSocialData", "setAppKey", os::Dictionary{{"appKey", os::Value(appKey)}});
  OBSocialLoadOptionalFrameworks();
  auto set = OBSDataManagerSet::shareInstance();
  set->setAppkey(appKey);
  OBSocialSnsHandler::shareInstance()->setAppkey(appKey);
  OBSocialSnsHandler::shareInstance()->requestAppInfo([](const std::shared_ptr<OBSocialResponseEntity>& response) {
    if (response->responseCode == OBSocialResponseCodeSuccess)
      OBSocialSnsHandler::shareInstance()->setAppInfo(response->data.value_or(os::Dictionary{}));
  });
  auto type = set->sdkType();
  auto version = set->cocos2dxVersion();
  if (type && version)
    OBSDataManager::currentDataManager()->postOpAnalyticsWithDictionary(
        os::Dictionary{{*type, os::Value(*version)}}, [](const std::shared_ptr<OBSocialResponseEntity>& response) {
          OBUtils::outLogf("cocos2d-x op response is %s", response->description().c_str());
        });
}

void OBSocialData::openLog(bool open) {
  OBUtils::setOpenLog(open);
  OBUtils::setPrefix("OBSocial: ");
}

std::shared_ptr<OBSBarEntity> OBSocialData::bar() const { return OBSDataManager::getDataManager(identifier_)->barEntity(); }

void OBSocialData::setIdentifier(const std::string& identifier) {
  identifier_ = identifier;
  auto set = OBSDataManagerSet::shareInstance();
  set->setDataManagerWithHash(identifier);
  auto manager = set->dataManager();
  // The record as the cache kept it, when it did.
  auto existing = manager->barEntity();
  bool known = existing->entityKey.has_value() && OBSUserManager::shareInstance()->uid().has_value();
  if (known) return;
  manager->requestBarInfo([](const std::shared_ptr<OBSocialResponseEntity>&) {
    if (OBSUserManager::shareInstance()->snsAccountDictionary().empty())
      OBSUserManager::shareInstance()->requestSnsAccount(nullptr);
  });
}

void OBSocialData::setTitle(const std::string& title) {
  title_ = title;
  OBSDataManager::currentDataManager()->title = title;
}

std::optional<std::string> OBSocialData::shareText() const { return bar()->shareText; }
void OBSocialData::setShareText(std::optional<std::string> text) { bar()->shareText = std::move(text); }
std::shared_ptr<os::Image> OBSocialData::shareImage() const { return bar()->shareImage; }

void OBSocialData::setShareImage(std::shared_ptr<os::Image> image) {
  auto record = bar();
  record->shareImage = std::move(image);
  if (record->shareImage && record->urlResource && record->urlResource->resourceType == OBSocialUrlResourceTypeImage)
    OBUtils::outLog("You set the shareImage will be invalid, for you have set the urlResource image!");
}

void OBSocialData::setShareImageData(const os::Data& bytes) {
  auto image = os::decodeImage(bytes);
  if (!image) {
    os::log("Ombra SocialSDK ---  You pass the wrong shareImage object type, you must set UIImage or NSData!");
    return;
  }
  setShareImage(std::move(image));
}

std::optional<std::string> OBSocialData::commentText() const { return bar()->commentText; }
void OBSocialData::setCommentText(std::optional<std::string> text) { bar()->commentText = std::move(text); }
std::shared_ptr<os::Image> OBSocialData::commentImage() const { return bar()->commentImage; }
void OBSocialData::setCommentImage(std::shared_ptr<os::Image> image) { bar()->commentImage = std::move(image); }
std::shared_ptr<OBSocialUrlResource> OBSocialData::urlResource() const { return bar()->urlResource; }

void OBSocialData::setUrlResource(std::shared_ptr<OBSocialUrlResource> resource) {
  if (!resource) return;
  auto record = bar();
  if (!resource->url)
    OBUtils::outLog("your urlResource's url can't be nil!!");
  else
    record->urlResource = std::move(resource);
  if (record->shareImage) OBUtils::outLog("you have set shareImage, which will be invalid, for you set the urlResource!");
}

std::shared_ptr<OBSocialExtConfig> OBSocialData::extConfig() const { return bar()->extConfig; }
void OBSocialData::setExtConfig(std::shared_ptr<OBSocialExtConfig> config) { bar()->extConfig = std::move(config); }
bool OBSocialData::isLike() const { return bar()->isLike; }
std::optional<std::string> OBSocialData::hashIdentifier() const { return bar()->entityKey; }

void OBSocialData::refresh() {
  auto record = bar();
  if (!record || !record->entityKey) OBSDataManager::currentDataManager()->requestBarInfo(nullptr);
}

std::int32_t OBSocialData::getNumber(std::int32_t which) const {
  auto record = bar();
  switch (which) {
    case 0: return record->likeCount;
    case 1: return record->shareCount;
    case 2: return record->commentCount;
    default: return 0;
  }
}

void OBSocialData::setSdkType(const std::string& type, const std::string& version) {
  auto set = OBSDataManagerSet::shareInstance();
  set->setCocos2dxVersion(version);
  set->setSdkType(type);
}
