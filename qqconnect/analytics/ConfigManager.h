#pragma once
// The QQ Connect client's online policy: a few switches fetched from the policy CGI, cached in
// "TCSdkConfig.plist" in the documents folder and fetched again when older than the policy's own
// frequency. The switch that matters at run time is whether data reports are on.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "os/core/Value.h"
#include "qqconnect_core/requests/APIBase.h"

class APIResponse;

class ConfigManager : public APIBaseTarget, public std::enable_shared_from_this<ConfigManager> {
  struct Private {};

 public:
  static constexpr const char* kDefaultPolicyURL = "http://policy.qqconnect.local/qqconnectopen/openapi/policy_conf";
  static constexpr const char* kCacheFileName = "TCSdkConfig.plist";

  // The process's policy, cached in the current sandbox: made on first use, and again when
  // another sandbox became current (a fresh context starts from its own cache).
  static std::shared_ptr<ConfigManager> GetInstance();
  // A policy cached at `path`, fetched from `policyURL`.
  static std::shared_ptr<ConfigManager> create(std::string path, std::string policyURL = kDefaultPolicyURL);
  ConfigManager(Private, std::string path, std::string policyURL);

  const std::string& appid() const { return appid_; }
  void setAppid(std::string appid) { appid_ = std::move(appid); }
  const os::Dictionary& config() const { return config_; }
  void setConfig(os::Dictionary config) {
    config_ = std::move(config);
    replacedWhole_ = true;
  }
  const std::string& path() const { return path_; }
  // Where the policy is fetched from (deployment configuration).
  const std::string& policyURL() const { return policyURL_; }
  void setPolicyURL(std::string url) { policyURL_ = std::move(url); }

  // Replaces the policy with the cache file's; a cache that does not read as a dictionary is
  // rewritten with the defaults, so reports stay on rather than off for good. A file that is there
  // but cannot be read now (no descriptor left, an input error) stays as it is: the policy in hand
  // goes on meanwhile, and the file is read again before anything is written over it.
  void loadLocalConfig();
  // Stamps the policy with now and writes it to the cache file; while the file is there and still
  // cannot be read, nothing is written. Once read, it keeps what it held beneath what this run's
  // answers changed.
  void saveLocalConfig();
  // Fetches when the policy is older than its frequency.
  void updateConfig();
  bool requestConfig();
  void requestConfigResponse(const std::shared_ptr<APIResponse>& response);
  bool isDataReportEnable() const;

  // Told the new report switch after every accepted answer.
  void setReportSwitch(std::function<void(bool)> onSwitch) { onSwitch_ = std::move(onSwitch); }

  static os::Dictionary defaults();

 private:
  // The cache file's dictionary; nothing when it is missing, cannot be read (unread_ set) or is
  // no dictionary (corrupt set).
  std::optional<os::Dictionary> readCache(bool& corrupt);
  // A file left unread is read again; when it reads, the policy becomes what it holds beneath
  // this run's changes. False while it still cannot be read.
  bool readBackIfUnread();

  os::Dictionary config_;
  std::string appid_;
  std::string iosver_;
  std::string path_;
  std::string policyURL_;
  std::shared_ptr<APIBase> apiRequest_;
  std::function<void(bool)> onSwitch_;
  bool unread_ = false;  // the file is there and could not be read: nothing may go over it
  std::set<std::string> changed_;  // keys this run's answers stored since the file was read
  bool replacedWhole_ = false;      // the policy was set as a whole since the file was read
};
