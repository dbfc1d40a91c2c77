#pragma once
// Two keyed-archive records of the messenger's format: a per-application setting and the
// messenger's registration record of an application. Nothing in this application makes or reads
// them; they are kept so that archives of either kind can be written and read back.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/store/KeyedArchive.h"
#include "platforms/wechat/WXMediaMessage.h"

class AppSettingItem : public os::Archivable {
 public:
  std::vector<std::string> archiveClassNames() const override { return {"AppSettingItem", "NSObject"}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<AppSettingItem> initWithCoder(os::KeyedUnarchiver& coder);

  bool appAddedByUser() const { return appAddedByUser_; }
  void setAppAddedByUser(bool v) { appAddedByUser_ = v; }
  const WXOptionalString& openID() const { return openID_; }
  void setOpenID(WXOptionalString v) { openID_ = std::move(v); }
  std::uint32_t flag() const { return flag_; }
  void setFlag(std::uint32_t v) { flag_ = v; }
  const WXOptionalString& appID() const { return appID_; }
  void setAppID(WXOptionalString v) { appID_ = std::move(v); }

 private:
  bool appAddedByUser_ = false;
  WXOptionalString openID_;
  std::uint32_t flag_ = 0;
  WXOptionalString appID_;
};

class AppRegisterInfo : public os::Archivable {
 public:
  std::vector<std::string> archiveClassNames() const override { return {"AppRegisterInfo", "NSObject"}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<AppRegisterInfo> initWithCoder(os::KeyedUnarchiver& coder);
  // "{ name:<appName> appid:<appID>}"
  std::string description() const;

  bool needUpdateInfo() const { return needUpdateInfo_; }
  void setNeedUpdateInfo(bool v) { needUpdateInfo_ = v; }
  bool needUpdateIcon() const { return needUpdateIcon_; }
  void setNeedUpdateIcon(bool v) { needUpdateIcon_ = v; }
  bool needUpdateWatermark() const { return needUpdateWatermark_; }
  void setNeedUpdateWatermark(bool v) { needUpdateWatermark_ = v; }
  bool appAddedByUser() const { return appAddedByUser_; }
  void setAppAddedByUser(bool v) { appAddedByUser_ = v; }
  bool appCanShowNew() const { return appCanShowNew_; }
  void setAppCanShowNew(bool v) { appCanShowNew_ = v; }
  bool isNewApp() const { return isNewApp_; }
  void setIsNewApp(bool v) { isNewApp_ = v; }
  std::uint32_t appInfoVer() const { return appInfoVer_; }
  void setAppInfoVer(std::uint32_t v) { appInfoVer_ = v; }
  const WXOptionalString& appName() const { return appName_; }
  void setAppName(WXOptionalString v) { appName_ = std::move(v); }
  const WXOptionalString& appName4ZhTw() const { return appName4ZhTw_; }
  void setAppName4ZhTw(WXOptionalString v) { appName4ZhTw_ = std::move(v); }
  const WXOptionalString& appName4EnUs() const { return appName4EnUs_; }
  void setAppName4EnUs(WXOptionalString v) { appName4EnUs_ = std::move(v); }
  const WXOptionalString& appID() const { return appID_; }
  void setAppID(WXOptionalString v) { appID_ = std::move(v); }
  const WXOptionalString& appIdentifier() const { return appIdentifier_; }
  void setAppIdentifier(WXOptionalString v) { appIdentifier_ = std::move(v); }
  const WXOptionalString& appDescription() const { return appDescription_; }
  void setAppDescription(WXOptionalString v) { appDescription_ = std::move(v); }
  const WXOptionalString& appDescription4ZhTw() const { return appDescription4ZhTw_; }
  void setAppDescription4ZhTw(WXOptionalString v) { appDescription4ZhTw_ = std::move(v); }
  const WXOptionalString& appDescription4EnUs() const { return appDescription4EnUs_; }
  void setAppDescription4EnUs(WXOptionalString v) { appDescription4EnUs_ = std::move(v); }
  const WXOptionalString& appInstallUrl() const { return appInstallUrl_; }
  void setAppInstallUrl(WXOptionalString v) { appInstallUrl_ = std::move(v); }
  const WXOptionalString& appIconUrl() const { return appIconUrl_; }
  void setAppIconUrl(WXOptionalString v) { appIconUrl_ = std::move(v); }
  const WXOptionalString& appWatermarkUrl() const { return appWatermarkUrl_; }
  void setAppWatermarkUrl(WXOptionalString v) { appWatermarkUrl_ = std::move(v); }
  std::uint32_t lastUpdateInfoTime() const { return lastUpdateInfoTime_; }
  void setLastUpdateInfoTime(std::uint32_t v) { lastUpdateInfoTime_ = v; }
  std::uint32_t lastUpdateWatermarkTime() const { return lastUpdateWatermarkTime_; }
  void setLastUpdateWatermarkTime(std::uint32_t v) { lastUpdateWatermarkTime_ = v; }
  std::uint32_t lastUpdateIconTime() const { return lastUpdateIconTime_; }
  void setLastUpdateIconTime(std::uint32_t v) { lastUpdateIconTime_ = v; }
  const WXOptionalString& appTypeList() const { return appTypeList_; }
  void setAppTypeList(WXOptionalString v) { appTypeList_ = std::move(v); }
  const WXOptionalString& appDevInfo() const { return appDevInfo_; }
  void setAppDevInfo(WXOptionalString v) { appDevInfo_ = std::move(v); }
  std::uint32_t appInfoFlag() const { return appInfoFlag_; }
  void setAppInfoFlag(std::uint32_t v) { appInfoFlag_ = v; }
  std::uint32_t appUpdateVersion() const { return appUpdateVersion_; }
  void setAppUpdateVersion(std::uint32_t v) { appUpdateVersion_ = v; }
  const WXOptionalString& appDownloadUrl() const { return appDownloadUrl_; }
  void setAppDownloadUrl(WXOptionalString v) { appDownloadUrl_ = std::move(v); }
  const WXOptionalString& appDownloadUrlMD5() const { return appDownloadUrlMD5_; }
  void setAppDownloadUrlMD5(WXOptionalString v) { appDownloadUrlMD5_ = std::move(v); }
  std::uint32_t nextUpdateInfoTime() const { return nextUpdateInfoTime_; }
  void setNextUpdateInfoTime(std::uint32_t v) { nextUpdateInfoTime_ = v; }
  std::uint32_t rankWeight() const { return rankWeight_; }
  void setRankWeight(std::uint32_t v) { rankWeight_ = v; }

 private:
  bool needUpdateInfo_ = false;
  bool needUpdateIcon_ = false;
  bool needUpdateWatermark_ = false;
  bool appAddedByUser_ = false;
  bool appCanShowNew_ = false;
  bool isNewApp_ = false;
  std::uint32_t appInfoVer_ = 0;
  WXOptionalString appName_;
  WXOptionalString appName4ZhTw_;
  WXOptionalString appName4EnUs_;
  WXOptionalString appID_;
  WXOptionalString appIdentifier_;
  WXOptionalString appDescription_;
  WXOptionalString appDescription4ZhTw_;
  WXOptionalString appDescription4EnUs_;
  WXOptionalString appInstallUrl_;
  WXOptionalString appIconUrl_;
  WXOptionalString appWatermarkUrl_;
  std::uint32_t lastUpdateInfoTime_ = 0;
  std::uint32_t lastUpdateWatermarkTime_ = 0;
  std::uint32_t lastUpdateIconTime_ = 0;
  WXOptionalString appTypeList_;
  WXOptionalString appDevInfo_;
  std::uint32_t appInfoFlag_ = 0;
  std::uint32_t appUpdateVersion_ = 0;
  WXOptionalString appDownloadUrl_;
  WXOptionalString appDownloadUrlMD5_;
  std::uint32_t nextUpdateInfoTime_ = 0;
  std::uint32_t rankWeight_ = 0;
};

// Both classes, for decoding.
os::ArchiveClassRegistry wechatArchiveClasses();
