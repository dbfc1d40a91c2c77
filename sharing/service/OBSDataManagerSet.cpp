#include "sharing/service/OBSDataManagerSet.h"

#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialContext.h"

std::shared_ptr<OBSDataManagerSet> OBSDataManagerSet::shareInstance() { return OBSocialContext::shared<OBSDataManagerSet>(); }

std::string OBSDataManagerSet::appkey() {
  {
    std::lock_guard lock(mutex_);
    if (appkey_) return *appkey_;
  }
  auto stored = OBSCacheManager::shareInstance()->getValueFromDocument("appkey");
  std::lock_guard lock(mutex_);
  if (!appkey_ && stored && stored->string()) appkey_ = *stored->string();
  return appkey_.value_or("");
}

void OBSDataManagerSet::setAppkey(const std::string& appkey) {
  auto cache = OBSCacheManager::shareInstance();
  // Held across the write, so the key held and the key on disk are the same last one.
  std::lock_guard lock(mutex_);
  appkey_ = appkey;
  cache->setValueInDocument(os::Value(appkey), "appkey");
}

void OBSDataManagerSet::setDataManagerWithHash(const std::string& identifier) {
  auto manager = getDataManager(identifier);
  std::lock_guard lock(mutex_);
  current_ = manager;
}

std::shared_ptr<OBSDataManager> OBSDataManagerSet::dataManager() {
  std::lock_guard lock(mutex_);
  return current_;
}

std::shared_ptr<OBSDataManager> OBSDataManagerSet::getDataManager(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  auto& slot = managers_[identifier];
  if (!slot) slot = std::make_shared<OBSDataManager>(identifier);
  return slot;
}

std::optional<std::string> OBSDataManagerSet::cocos2dxVersion() const {
  std::lock_guard lock(mutex_);
  return cocos2dxVersion_;
}
void OBSDataManagerSet::setCocos2dxVersion(std::optional<std::string> version) {
  std::lock_guard lock(mutex_);
  cocos2dxVersion_ = std::move(version);
}
std::optional<std::string> OBSDataManagerSet::sdkType() const {
  std::lock_guard lock(mutex_);
  return sdkType_;
}
void OBSDataManagerSet::setSdkType(std::optional<std::string> type) {
  std::lock_guard lock(mutex_);
  sdkType_ = std::move(type);
}

os::Dictionary OBSDataManagerSet::appInfo() const {
  std::lock_guard lock(mutex_);
  return appInfo_;
}
void OBSDataManagerSet::setAppInfo(os::Dictionary info) {
  std::lock_guard lock(mutex_);
  appInfo_ = std::move(info);
}
