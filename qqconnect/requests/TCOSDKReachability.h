#pragma once
// The QQ Connect client's reachability monitor: the shared watcher with this client's status
// rule, notification name and watch keys. Status 0 not reachable, 1 WWAN, 2 Wi-Fi.
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/net/Reachability.h"

inline constexpr const char* kTCOSDKReachabilityChangedNotification = "TCOSDKReachabilityChangedNotification";
inline constexpr const char* kTCOSDKInternetConnectionKey = "TCOSDKInternetConnection";
inline constexpr const char* kTCOSDKLocalWiFiConnectionKey = "TCOSDKLocalWiFiConnection";

class TCOSDKReachability {
 public:
  // Changes arrive on the run loop that started the notifier and are posted there at once.
  static ReachabilityProfile profile();
  static long networkStatusForFlags(std::uint32_t flags, bool localWiFi);

  // Nothing when the platform cannot make a handle.
  static std::shared_ptr<TCOSDKReachability> reachabilityWithHostName(const std::string& hostName);
  static std::shared_ptr<TCOSDKReachability> reachabilityWithAddress(const sockaddr_in& address);
  static std::shared_ptr<TCOSDKReachability> reachabilityForInternetConnection();
  static std::shared_ptr<TCOSDKReachability> reachabilityForLocalWiFi();
  // "%d.%d.%d.%d" of an address in network byte order.
  static std::string makeAddressKey(const sockaddr_in& address);

  bool startNotifier() { return watcher_->startNotifier(); }
  void stopNotifier() { watcher_->stopNotifier(); }
  long currentReachabilityStatus() const { return watcher_->currentReachabilityStatus(); }
  long networkStatusForFlags(std::uint32_t flags) const { return networkStatusForFlags(flags, watcher_->isLocalWiFi()); }
  bool isReachable() const { return currentReachabilityStatus() != 0; }
  bool isReachableViaWWAN() const { return currentReachabilityStatus() == 1; }
  bool isReachableViaWiFi() const { return currentReachabilityStatus() == 2; }
  bool isConnectionRequired() const { return watcher_->isConnectionRequired(); }
  bool connectionRequired() const { return isConnectionRequired(); }
  bool isConnectionOnDemand() const { return watcher_->isConnectionOnDemand(); }
  bool isInterventionRequired() const { return watcher_->isInterventionRequired(); }
  std::uint32_t reachabilityFlags() const { return watcher_->reachabilityFlags(); }

  const std::string& key() const { return key_; }
  bool isEqual(const TCOSDKReachability& other) const { return key_ == other.key_; }
  // The object the change notification carries.
  const void* notificationObject() const { return watcher_.get(); }

  TCOSDKReachability(std::shared_ptr<Reachability> watcher, std::string key)
      : watcher_(std::move(watcher)), key_(std::move(key)) {}

 private:
  static std::shared_ptr<TCOSDKReachability> make(std::shared_ptr<Reachability> watcher, std::string key);
  std::shared_ptr<Reachability> watcher_;
  std::string key_;
};
