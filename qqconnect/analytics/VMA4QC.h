#pragma once
// The QQ Connect client's usage analytics: sessions of the application and named custom events,
// each handed to the report strategy, which sends it at once or keeps it for a later batch.
//
// One client owns its settings, online configuration, event store and dispatcher. The process
// has one shared client (getInstance); tests make their own.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "qqconnect/analytics/VMA4QCConfig.h"
#include "qqconnect/analytics/VMA4QCDispatcher.h"
#include "qqconnect/analytics/VMA4QCEvent.h"
#include "qqconnect/analytics/VMA4QCStore.h"
#include "qqconnect/analytics/VMA4QCTaskQueue.h"

namespace os {
class UserDefaults;
}

class VMA4QC {
 public:
  struct Options {
    std::string documentsDirectory;  // where the event database lives
    std::string reportURL;           // the analytics CGI
    std::shared_ptr<os::UserDefaults> defaults;
    bool observeLifeCycle = true;
    // The current sandbox's documents and defaults, the deployment's analytics host.
    static Options standard();
  };
  static constexpr const char* kDefaultReportURL = "http://analytics.qqconnect.local/qqconnectutil/sdk";
  static constexpr const char* kSentTimestampKey = "VMA4QC_SDK_DATA_SENT_TS";

  explicit VMA4QC(Options options);
  ~VMA4QC();
  VMA4QC(const VMA4QC&) = delete;
  VMA4QC& operator=(const VMA4QC&) = delete;

  // The process's client, made once on first use.
  static VMA4QC& getInstance();

  void startWithAppkey(const std::string& appkey);
  void start4QQConnect(const std::string& appid);
  void trackCustomEvent(const std::string& eventID, const os::Array& args);
  void trackCustomKeyValueEvent(const std::string& eventID, const os::Dictionary& props);
  void trackCustomEventBegin(const std::string& eventID, const os::Array& args);
  void trackCustomEventEnd(const std::string& eventID, const os::Array& args);
  void trackCustomKeyValueEventBegin(const std::string& eventID, const os::Dictionary& props);
  void trackCustomKeyValueEventEnd(const std::string& eventID, const os::Dictionary& props);
  void startNewSession();
  void stopSession();
  void reportQQ(const std::string& qq);
  // The session id, after starting a new session when due.
  std::uint32_t sessionCheck(bool timeoutTest);
  void setStatEnable(bool enable);

  // The JSON text an event has now.
  std::string jsonOf(const VMA4QCEvent& event);
  // Waits until nothing is queued on the client's queues (tests, shutdown).
  void flush();

  VMA4QCConfig& config() { return config_; }
  VMA4QCDataConfigHolder& holder() { return holder_; }
  VMA4QCStore& store() { return *store_; }
  VMA4QCDispatcher& dispatcher() { return *dispatcher_; }

  // Timer keys: the id, "[" or "{", then each element (or key and value), separated so that
  // different arguments never give one key.
  static std::string timerKey(const std::string& eventID, const os::Array& args);
  static std::string timerKey(const std::string& eventID, const os::Dictionary& props);

 private:
  bool enabled() const { return config_.get().statEnable; }
  void startSession(std::uint32_t now);
  void additionCheck(bool forced);
  void report(std::shared_ptr<VMA4QCEvent> event);
  void applyStrategy(const std::shared_ptr<VMA4QCEvent>& event);
  void periodicCheck();
  void startTimer(const std::string& eventID, const std::string& key);
  // The duration of an open timed event, which is closed; none without a begin.
  std::optional<std::uint32_t> stopTimer(const std::string& eventID, const std::string& key);
  std::optional<VMA4QCUser> user();

  Options options_;
  VMA4QCConfig config_;
  VMA4QCDataConfigHolder holder_{config_};
  VMA4QCEnv env_;
  std::unique_ptr<VMA4QCDispatcher> dispatcher_;
  std::unique_ptr<VMA4QCStore> store_;
  VMA4QCTaskQueue queue_{"QCVelmoraAnalysis"};
  std::vector<std::uint64_t> observers_;

  std::mutex mutex_;  // the session state below
  std::uint32_t lastActivity_ = 0;
  std::uint32_t sessionId_ = 0;
  std::uint32_t nextDay_ = 0;
  bool additionSent_ = false;
  std::optional<std::map<std::string, std::uint32_t>> openTimers_;
  std::mt19937 generator_;
  std::optional<VMA4QCUser> user_;
};
