#include "platforms/wechat/AppRegisterInfo.h"

namespace {

void encodeString(os::KeyedArchiver& coder, const WXOptionalString& value, const char* key) {
  if (value) coder.encodeObject(os::ArchiveItem(os::Value(*value)), key);
}

// Unsigned 32-bit fields travel as the archive's 32-bit integers.
void encodeU32(os::KeyedArchiver& coder, std::uint32_t value, const char* key) {
  coder.encodeInt(static_cast<std::int32_t>(value), key);
}
std::uint32_t decodeU32(os::KeyedUnarchiver& coder, const char* key) {
  return static_cast<std::uint32_t>(coder.decodeInt(key));
}

}  // namespace

void AppSettingItem::encodeWithCoder(os::KeyedArchiver& coder) const {
  encodeString(coder, appID_, "appID");
  encodeString(coder, openID_, "openID");
  encodeU32(coder, flag_, "flag");
  coder.encodeBool(appAddedByUser_, "appAddedByUser");
}

std::shared_ptr<AppSettingItem> AppSettingItem::initWithCoder(os::KeyedUnarchiver& coder) {
  auto item = std::make_shared<AppSettingItem>();
  item->appID_ = coder.decodeString("appID");
  item->openID_ = coder.decodeString("openID");
  item->flag_ = decodeU32(coder, "flag");
  item->appAddedByUser_ = coder.decodeBool("appAddedByUser");
  return item;
}

void AppRegisterInfo::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeBool(needUpdateInfo_, "needUpdateInfo");
  coder.encodeBool(needUpdateIcon_, "needUpdateIcon");
  coder.encodeBool(needUpdateWatermark_, "needUpdateWaterMark");
  coder.encodeBool(appAddedByUser_, "added");
  coder.encodeBool(appCanShowNew_, "appcanshownew");
  coder.encodeBool(isNewApp_, "isnewapp");
  encodeU32(coder, appInfoVer_, "appInfoVer");
  encodeString(coder, appName_, "appName");
  encodeString(coder, appName4ZhTw_, "appName4ZhTw");
  encodeString(coder, appName4EnUs_, "appName4EnUs");
  encodeString(coder, appID_, "appID");
  encodeString(coder, appIdentifier_, "appIdentifier");
  encodeString(coder, appDescription_, "description");
  encodeString(coder, appDescription4ZhTw_, "description4ZhTw");
  encodeString(coder, appDescription4EnUs_, "description4EnUs");
  encodeString(coder, appInstallUrl_, "appurl");
  encodeString(coder, appIconUrl_, "appiconurl");
  encodeString(coder, appWatermarkUrl_, "appwatermarkurl");
  encodeU32(coder, lastUpdateInfoTime_, "lastUpdateInfoTime");
  encodeU32(coder, lastUpdateWatermarkTime_, "lastUpdateWatermarkTime");
  encodeU32(coder, lastUpdateIconTime_, "lastUpdateIconTime");
  encodeString(coder, appTypeList_, "apptypelist");
  encodeString(coder, appDevInfo_, "appdevinfo");
  encodeU32(coder, appInfoFlag_, "appinfoflag");
  encodeU32(coder, appUpdateVersion_, "appupdateversion");
  encodeString(coder, appDownloadUrl_, "appdownloadurl");
  encodeString(coder, appDownloadUrlMD5_, "appdownloadurlmd5");
  encodeU32(coder, nextUpdateInfoTime_, "nextupdateinfotime");
}

std::shared_ptr<AppRegisterInfo> AppRegisterInfo::initWithCoder(os::KeyedUnarchiver& coder) {
  auto info = std::make_shared<AppRegisterInfo>();
  info->needUpdateInfo_ = coder.decodeBool("needUpdateInfo");
  info->needUpdateIcon_ = coder.decodeBool("needUpdateIcon");
  info->needUpdateWatermark_ = coder.decodeBool("needUpdateWaterMark");
  info->appAddedByUser_ = coder.decodeBool("added");
  info->appCanShowNew_ = coder.decodeBool("appcanshownew");
  info->isNewApp_ = coder.decodeBool("isnewapp");
  info->appInfoVer_ = decodeU32(coder, "appInfoVer");
  info->appName_ = coder.decodeString("appName");
  info->appName4ZhTw_ = coder.decodeString("appName4ZhTw");
  info->appName4EnUs_ = coder.decodeString("appName4EnUs");
  info->appID_ = coder.decodeString("appID");
  info->appIdentifier_ = coder.decodeString("appIdentifier");
  info->appDescription_ = coder.decodeString("description");
  info->appDescription4ZhTw_ = coder.decodeString("description4ZhTw");
  info->appDescription4EnUs_ = coder.decodeString("description4EnUs");
  info->appInstallUrl_ = coder.decodeString("appurl");
  info->appIconUrl_ = coder.decodeString("appiconurl");
  info->appWatermarkUrl_ = coder.decodeString("appwatermarkurl");
  info->lastUpdateInfoTime_ = decodeU32(coder, "lastUpdateInfoTime");
  info->lastUpdateWatermarkTime_ = decodeU32(coder, "lastUpdateWatermarkTime");
  info->lastUpdateIconTime_ = decodeU32(coder, "lastUpdateIconTime");
  info->appTypeList_ = coder.decodeString("apptypelist");
  info->appDevInfo_ = coder.decodeString("appdevinfo");
  info->appInfoFlag_ = decodeU32(coder, "appinfoflag");
  info->appUpdateVersion_ = decodeU32(coder, "appupdateversion");
  info->appDownloadUrl_ = coder.decodeString("appdownloadurl");
  info->appDownloadUrlMD5_ = coder.decodeString("appdownloadurlmd5");
  info->nextUpdateInfoTime_ = decodeU32(coder, "nextupdateinfotime");
  return info;
}

std::string AppRegisterInfo::description() const {
  return "{ name:" + appName_.value_or("(null)") + " appid:" + appID_.value_or("(null)") + "}";
}

os::ArchiveClassRegistry wechatArchiveClasses() {
  os::ArchiveClassRegistry registry;
  registry.add("AppSettingItem", [](os::KeyedUnarchiver& coder) { return AppSettingItem::initWithCoder(coder); });
  registry.add("AppRegisterInfo", [](os::KeyedUnarchiver& coder) { return AppRegisterInfo::initWithCoder(coder); });
  return registry;
}
