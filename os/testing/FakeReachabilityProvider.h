#pragma once
// A reachability provider whose flags the test sets per target (host name or dotted address, as
// ReachabilityTarget::key() spells it). SharedFakeReachability installs one for a scope.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/net/NetworkReachability.h"

namespace os::testing {

class FakeReachabilityProvider : public ReachabilityProvider {
 public:
  // The local (Wi-Fi) network's key, and the flags of a host reached over it.
  static constexpr const char* kLocalWiFi = "169.254.0.0";
  static constexpr std::uint32_t kWiFi = kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;

  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = flags_.find(target.key());
    if (it != flags_.end()) return it->second;
    return defaultFlags_;
  }
  // Sets the flags of one target (absent: they cannot be read) and tells the observers.
  void setFlags(const std::string& key, std::optional<std::uint32_t> flags) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      flags_[key] = flags;
    }
    notifyChanged();
  }
  // Flags of every target not set one by one.
  void setDefaultFlags(std::optional<std::uint32_t> flags) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      defaultFlags_ = flags;
    }
    notifyChanged();
  }
  // The same flags for the local Wi-Fi and every other target (absent: none can be read).
  void setAllFlags(std::optional<std::uint32_t> flags) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      flags_.clear();
      defaultFlags_ = flags;
    }
    notifyChanged();
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::optional<std::uint32_t>> flags_;
  std::optional<std::uint32_t> defaultFlags_ = 0u;
};

// A fake provider installed as the shared one while the scope lives, so no test leaves its
// network behind.
class SharedFakeReachability {
 public:
  SharedFakeReachability() { ReachabilityProvider::setShared(fake_); }
  ~SharedFakeReachability() { ReachabilityProvider::setShared(nullptr); }
  SharedFakeReachability(const SharedFakeReachability&) = delete;
  SharedFakeReachability& operator=(const SharedFakeReachability&) = delete;

  FakeReachabilityProvider& operator*() const { return *fake_; }
  FakeReachabilityProvider* operator->() const { return fake_.get(); }

 private:
  std::shared_ptr<FakeReachabilityProvider> fake_ = std::make_shared<FakeReachabilityProvider>();
};

}  // namespace os::testing
