#pragma once
// The application key of the sharing service and one data manager per content identifier, one of
// them current.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"

class OBSDataManager;

class OBSDataManagerSet {
 public:
  static std::shared_ptr<OBSDataManagerSet> shareInstance();

  // "" until a key is set; a key set in an earlier run is read back from the documents list.
  std::string appkey();
  void setAppkey(const std::string& appkey);

  // Makes the identifier's data manager current, creating it when needed.
  void setDataManagerWithHash(const std::string& identifier);
  std::shared_ptr<OBSDataManager> dataManager();
  std::shared_ptr<OBSDataManager> getDataManager(const std::string& identifier);

  // The application's per-platform key information, as the service last told it.
  os::Dictionary appInfo() const;
  void setAppInfo(os::Dictionary info);

  std::optional<std::string> cocos2dxVersion() const;
  void setCocos2dxVersion(std::optional<std::string> version);
  std::optional<std::string> sdkType() const;
  void setSdkType(std::optional<std::string> type);

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> appkey_;
  std::map<std::string, std::shared_ptr<OBSDataManager>> managers_;
  std::shared_ptr<OBSDataManager> current_;
  std::optional<std::string> cocos2dxVersion_, sdkType_;
  os::Dictionary appInfo_;
};
