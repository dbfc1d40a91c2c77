#include "qqconnect/analytics/ConfigManager.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "os/core/Log.h"
#include "os/runtime/Clock.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Device.h"
#include "qqconnect_core/login/APIResponse.h"

std::shared_ptr<ConfigManager> ConfigManager::GetInstance() {
  static std::mutex lock;
  static std::shared_ptr<ConfigManager> shared;
  const std::string path = os::Sandbox::current()->documentsDirectory() + "/" + kCacheFileName;
  std::lock_guard guard(lock);
  if (!shared || shared->path() != path) shared = create(path);
  return shared;
}

std::shared_ptr<ConfigManager> ConfigManager::create(std::string path, std::string policyURL) {
  auto manager = std::make_shared<ConfigManager>(Private{}, std::move(path), std::move(policyURL));
  manager->loadLocalConfig();
  return manager;
}

ConfigManager::ConfigManager(Private, std::string path, std::string policyURL)
    : config_(defaults()),
      iosver_(os::Device::current().systemVersion()),
      path_(std::move(path)),
      policyURL_(std::move(policyURL)) {}

os::Dictionary ConfigManager::defaults() {
  return {{"DataReportEnable", os::Value(true)},     {"SafariEnable", os::Value(true)},
          {"WebViewEnable", os::Value(true)},        {"ConfigTimeStamp", os::Value(0.0)},
          {"ConfigTimeFrequency", os::Value(24.0)},  {"CommonSSo", os::Value(1)},
          {"CommonSSoQZoneVersion", os::Value("3.5.0")}, {"CommonSSOQZoneSchema", os::Value("mqq")}};
}

std::optional<os::Dictionary> ConfigManager::readCache(bool& corrupt) {
  auto& files = os::FileManager::defaultManager();
  corrupt = false;
  os::Error error;
  auto bytes = files.contentsAtPath(path_, &error);
  if (!bytes) {
    const bool wasUnread = unread_;
    const bool there = error.code != ENOENT && files.fileExistsAtPath(path_);
    // Only a read that may succeed later is waited for; a file no read will ever get (a socket or
    // a folder in its place) holds no policy to keep, and is replaced as a damaged one is.
    unread_ = there && os::FileManager::mayReadLater(error);
    corrupt = there && !unread_;
    if (unread_ && !wasUnread)
      os::logf("policy cache %s could not be read (%s); nothing is written over it until it is read",
               path_.c_str(), error.localizedDescription().c_str());
    return std::nullopt;
  }
  unread_ = false;
  changed_.clear();
  // Our own small file: it expands to fewer nodes than it has bytes.
  auto cached = os::PropertyList::read(*bytes, nullptr, &error,
                                       std::max<std::uint64_t>(os::kPropertyListMaxNodes, bytes->size()));
  if (cached && cached->isDictionary()) return *cached->dictionary();
  corrupt = true;
  return std::nullopt;
}

void ConfigManager::loadLocalConfig() {
  // The folder is the application's documents: only this file's leftovers of saves cut short go.
  os::FileManager::defaultManager().removeAbandonedTemporaryFiles(path_);
  bool corrupt = false;
  auto cached = readCache(corrupt);
  replacedWhole_ = false;
  if (cached) {
    config_ = std::move(*cached);
    return;
  }
  if (!corrupt) return;
  os::logf("policy cache %s is unreadable; starting again from the defaults", path_.c_str());
  config_ = defaults();
  os::PropertyList::writeFile(os::Value(config_), path_, os::PropertyListFormat::XML);
}

bool ConfigManager::readBackIfUnread() {
  if (!unread_) return true;
  const os::Dictionary mine = config_;
  const std::set<std::string> changed = std::move(changed_);
  bool corrupt = false;
  auto cached = readCache(corrupt);
  if (unread_) {
    changed_ = changed;
    return false;
  }
  // Read at last: what it held, under what this run's answers stored meanwhile. A file that
  // turned out not to be a policy is replaced by the one in hand.
  if (cached && !replacedWhole_) {
    for (const auto& key : changed) {
      if (const os::Value* v = mine.find(key)) cached->set(key, *v);
    }
    config_ = std::move(*cached);
  }
  replacedWhole_ = false;
  return true;
}

void ConfigManager::saveLocalConfig() {
  if (!readBackIfUnread()) return;
  config_.set("ConfigTimeStamp", os::Value(os::Clock::now()));
  os::PropertyList::writeFile(os::Value(config_), path_, os::PropertyListFormat::XML);
}

bool ConfigManager::isDataReportEnable() const { return config_["DataReportEnable"].boolValue(); }

void ConfigManager::updateConfig() {
  // A stored policy not read at start may be readable now: its stamp decides.
  readBackIfUnread();
  const double stamp = config_["ConfigTimeStamp"].doubleValue();
  const double hours = config_["ConfigTimeFrequency"].doubleValue();
  if (os::Clock::now() - stamp > hours * 3600) requestConfig();
}

bool ConfigManager::requestConfig() {
  if (!apiRequest_) {
    apiRequest_ = APIBase::initWithTarget(
        weak_from_this(),
        [](APIBaseTarget& target, const std::shared_ptr<APIResponse>& response) {
          static_cast<ConfigManager&>(target).requestConfigResponse(response);
        },
        "GET");
  }
  VelmoraParams params{{"client_id", appid_}, {"sdkv", "1.3"}, {"sdkp", "i"}, {"status_os", iosver_},
                       {"status_version", "6.0"}};
  apiRequest_->openUrl(policyURL_, std::nullopt, std::nullopt, appid_, std::move(params));
  return true;
}

void ConfigManager::requestConfigResponse(const std::shared_ptr<APIResponse>& response) {
  if (!response || response->retCode() != 0 || !response->jsonResponse()) return;
  const os::Dictionary& answer = *response->jsonResponse();
  const os::Value& ret = answer["ret"];
  if (ret.isNumber() && ret.intValue() != 0) return;
  struct Member {
    const char *from, *to;
    os::Value::Type type;
    std::function<os::Value(const os::Value&)> convert;
  };
  const Member members[] = {
      {"Common_ta_enable", "DataReportEnable", os::Value::Type::Number, [](const os::Value& v) { return os::Value(v.boolValue()); }},
      {"Common_frequency", "ConfigTimeFrequency", os::Value::Type::Number, [](const os::Value& v) { return os::Value(v.doubleValue()); }},
      {"Common_SSO", "CommonSSo", os::Value::Type::Number, [](const os::Value& v) { return os::Value(v.intValue()); }},
      {"Common_SSO_QzoneVersion", "CommonSSoQZoneVersion", os::Value::Type::String, [](const os::Value& v) { return v; }},
      {"Common_SSO_QZoneSchema", "CommonSSOQZoneSchema", os::Value::Type::String, [](const os::Value& v) { return v; }},
  };
  bool stored = false;
  for (const auto& m : members) {
    const os::Value& v = answer[m.from];
    const bool numeric = v.isNumber() || v.isBool();
    if (m.type == os::Value::Type::Number ? !numeric : v.type() != m.type) continue;
    config_.set(m.to, m.convert(v));
    if (unread_) changed_.insert(m.to);
    stored = true;
  }
  if (stored) saveLocalConfig();
  if (onSwitch_) onSwitch_(isDataReportEnable());
}
