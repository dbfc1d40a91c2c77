#include "qqconnect/analytics/VMA4QCConfig.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "qqconnect/analytics/VMA4QCJSON.h"
#include "qqconnect/analytics/VMA4QCStore.h"

VMA4QCSettings VMA4QCConfig::get() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void VMA4QCConfig::edit(const std::function<void(VMA4QCSettings&)>& change) {
  std::lock_guard lock(mutex_);
  change(settings_);
}

int VMA4QCCompareVersions(const std::string& a, const std::string& b) {
  auto parts = [](const std::string& text) {
    std::vector<long> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, '.')) out.push_back(std::strtol(item.c_str(), nullptr, 10));
    return out;
  };
  auto x = parts(a), y = parts(b);
  for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    long l = i < x.size() ? x[i] : 0, r = i < y.size() ? y[i] : 0;
    if (l != r) return l < r ? -1 : 1;
  }
  return 0;
}

void VMA4QCDataConfigHolder::updateOnlineConfig(const os::Value& answer) {
  const os::Value& cfg = answer["cfg"];
  if (!cfg.isDictionary()) return;
  if (cfg["1"].isDictionary()) updateConfig(cfg["1"], 1);
  if (cfg["2"].isDictionary()) updateConfig(cfg["2"], 2);
}

void VMA4QCDataConfigHolder::loadStored() {
  std::lock_guard lock(loadMutex_);
  if (storedRead_ || !store_) return;
  storedRead_ = store_->loadConfig([this](const VMA4QCDataConfig& c) { setConfig(c); });
}

void VMA4QCDataConfigHolder::updateConfig(const os::Value& entry, std::uint32_t type) {
  const os::Value &c = entry["c"], &v = entry["v"], &m = entry["m"];
  if (!c.isDictionary() || !v.isNumber() || !m.isString()) return;
  auto content = VMA4QCJSON::JSONString(c);
  if (!content) return;
  VMA4QCDataConfig config{type, *content, *m.string(), static_cast<std::uint32_t>(v.intValue())};
  // Compared with what is stored, not with nothing: a start that could not read it has not yet.
  loadStored();
  auto held = getConfig(type);
  if ((held ? held->version : 0) >= config.version) return;
  setConfig(config);
  if (store_) store_->storeConfig(config);
}

void VMA4QCDataConfigHolder::setConfig(const VMA4QCDataConfig& config) {
  auto parsed = VMA4QCJSON::objectWithString(config.content);
  if (!parsed || !parsed->isDictionary()) return;
  if (config.type == 1) {
    {
      std::lock_guard lock(mutex_);
      sdkCfg_ = config;
    }
    const os::Value& rs = (*parsed)["rs"];
    const os::Value& hibernate = (*parsed)["__HIBERNATE__"];
    config_.edit([&](VMA4QCSettings& s) {
      if (rs.isNumber() && rs.intValue() >= 1) s.reportStrategy = static_cast<std::int32_t>(rs.intValue());
      if (!hibernate.isNull()) {
        std::string version = hibernate.isString() ? *hibernate.string() : hibernate.description();
        if (VMA4QCCompareVersions(version, "0.5.5") >= 0) s.statEnable = false;
      }
    });
  } else if (config.type == 2) {
    std::lock_guard lock(mutex_);
    appCfg_ = config;
    appProperties_ = *parsed->dictionary();
  }
}

std::optional<VMA4QCDataConfig> VMA4QCDataConfigHolder::getConfig(std::uint32_t type) const {
  std::lock_guard lock(mutex_);
  if (type == 1) return sdkCfg_;
  if (type == 2) return appCfg_;
  return std::nullopt;
}

void VMA4QCDataConfigHolder::encode(os::Dictionary& event) const {
  auto version = [](const std::optional<VMA4QCDataConfig>& c) {
    if (!c) return os::Dictionary{};
    return os::Dictionary{{"v", os::Value::unsignedNumber('I', c->version)}};
  };
  std::lock_guard lock(mutex_);
  event.set("cfg", os::Dictionary{{"1", version(sdkCfg_)}, {"2", version(appCfg_)}});
}

os::Value VMA4QCDataConfigHolder::getCustomProperty(const std::string& key, const os::Value& fallback) const {
  std::lock_guard lock(mutex_);
  const os::Value* found = appProperties_.find(key);
  return found ? *found : fallback;
}
