#pragma once
// Settings of the analytics client and the online configurations its server hands back.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"

struct VMA4QCSettings {
  bool debugEnable = false;
  bool statEnable = true;  // master switch
  std::uint32_t sessionTimeoutSecs = 30;
  std::int32_t reportStrategy = 3;
  std::optional<std::string> appkey;
  std::string channel = "appstore";
  std::uint32_t maxStoreEventCount = 1024;
  std::uint32_t maxLoadEventCount = 30;
  std::uint32_t minBatchReportCount = 30;
  std::uint32_t maxSendRetryCount = 3;
  std::uint32_t sendPeriodMinutes = 1440;
  std::uint32_t maxParallelTimingEvents = 1024;
  bool smartReporting = true;  // send at once on Wi-Fi
  bool autoExceptionCaught = true;
  std::optional<std::string> qq;
};

// The caller's thread, the facade's queue and the dispatcher's queue all write the settings, so
// every read takes a snapshot and every write goes through one lock.
class VMA4QCConfig {
 public:
  VMA4QCSettings get() const;
  void edit(const std::function<void(VMA4QCSettings&)>& change);

 private:
  mutable std::mutex mutex_;
  VMA4QCSettings settings_;
};

struct VMA4QCDataConfig {
  std::uint32_t type = 0;  // 1 SDK, 2 application
  std::string content;     // JSON text of the configuration object
  std::string md5;         // as the server sent it
  std::uint32_t version = 0;
};

class VMA4QCStore;

class VMA4QCDataConfigHolder {
 public:
  explicit VMA4QCDataConfigHolder(VMA4QCConfig& config) : config_(config) {}

  // Where accepted configurations are kept; none keeps them in memory only.
  void setStore(VMA4QCStore* store) { store_ = store; }

  // The "cfg" member of an upload answer.
  void updateOnlineConfig(const os::Value& answer);
  void updateConfig(const os::Value& entry, std::uint32_t type);
  // Applies the stored configurations, once: at start, or when the store could not be read then,
  // at the first use after, before an event is handled or an answer's configuration compared.
  void loadStored();
  // Applies a configuration without storing it (stored ones at start).
  void setConfig(const VMA4QCDataConfig& config);
  std::optional<VMA4QCDataConfig> getConfig(std::uint32_t type) const;
  // Adds "cfg": {"1": {"v": ...}, "2": {"v": ...}} to an event.
  void encode(os::Dictionary& event) const;
  os::Value getCustomProperty(const std::string& key, const os::Value& fallback) const;

 private:
  VMA4QCConfig& config_;
  VMA4QCStore* store_ = nullptr;
  std::mutex loadMutex_;  // held while the stored configurations are read and applied
  bool storedRead_ = false;
  mutable std::mutex mutex_;
  std::optional<VMA4QCDataConfig> sdkCfg_, appCfg_;
  os::Dictionary appProperties_;
};

// Numeric comparison of dotted version texts ("0.6" > "0.5.5"): negative, 0 or positive.
int VMA4QCCompareVersions(const std::string& a, const std::string& b);
