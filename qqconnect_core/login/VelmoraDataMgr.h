#pragma once
// The data centre of the app-to-app layer: the application id, SDK version, open id and QQ
// number the exchanges with the QQ applications carry. One instance for the process.
#include <memory>
#include <optional>
#include <string>

class VelmoraDataMgr {
 public:
  static VelmoraDataMgr& dataCenter();

  const std::optional<std::string>& appId() const { return appId_; }
  void setAppId(std::optional<std::string> v) { appId_ = std::move(v); }
  const std::optional<std::string>& sdkVersion() const { return sdkVersion_; }
  void setSdkVersion(std::optional<std::string> v) { sdkVersion_ = std::move(v); }
  const std::optional<std::string>& openId() const { return openId_; }
  void setOpenId(std::optional<std::string> v) { openId_ = std::move(v); }
  const std::optional<std::string>& uin() const { return uin_; }
  void setUin(std::optional<std::string> v) { uin_ = std::move(v); }

 private:
  std::optional<std::string> appId_, sdkVersion_, openId_, uin_;
};
