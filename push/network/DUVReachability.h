#pragma once
// The push client's reachability watcher: the shared watcher with this client's status rule and
// change notification. Statuses: 0 not reachable, 2 Wi-Fi (or a link that needs no cellular
// connection), 3 cellular; 1 is never produced. Once its notifier runs, every change of the flags
// is posted as "kNetworkReachabilityChangedNotification", object the watcher, on the client's
// private centre, on the run loop of the thread that started the notifier (the client thread).
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/net/Reachability.h"

namespace os {
class NotificationCenter;
}

class DUVReachability {
 public:
  // Nothing when the platform cannot make a handle. The centre must outlive the watcher.
  static std::shared_ptr<DUVReachability> reachabilityWithHostName(const std::string& hostName,
                                                                   os::NotificationCenter& center);
  static std::shared_ptr<DUVReachability> reachabilityWithAddress(const sockaddr_in& address,
                                                                  os::NotificationCenter& center);
  // 0.0.0.0: the default route.
  static std::shared_ptr<DUVReachability> reachabilityForInternetConnection(os::NotificationCenter& center);
  // 169.254.0.0: the link-local network, judged by the local Wi-Fi rule.
  static std::shared_ptr<DUVReachability> reachabilityForLocalWiFi(os::NotificationCenter& center);

  static long networkStatusForFlags(std::uint32_t flags);
  // 2 when the flags hold both Reachable and IsDirect, else 0.
  static long localWiFiStatusForFlags(std::uint32_t flags);

  // False when the changes cannot be scheduled.
  bool startNotifier() { return watcher_->startNotifier(); }
  void stopNotifier() { watcher_->stopNotifier(); }
  // 0 when the flags cannot be read.
  long currentReachabilityStatus() const { return watcher_->currentReachabilityStatus(); }
  bool connectionRequired() const { return watcher_->isConnectionRequired(); }
  bool localWiFiRef() const { return watcher_->isLocalWiFi(); }
  // The object the change notification carries.
  const void* notificationObject() const { return watcher_.get(); }

  explicit DUVReachability(std::shared_ptr<Reachability> watcher) : watcher_(std::move(watcher)) {}
  ~DUVReachability() { watcher_->stopNotifier(); }
  DUVReachability(const DUVReachability&) = delete;
  DUVReachability& operator=(const DUVReachability&) = delete;

 private:
  static ReachabilityProfile profile(os::NotificationCenter& center);
  static std::shared_ptr<DUVReachability> make(std::shared_ptr<Reachability> watcher);

  std::shared_ptr<Reachability> watcher_;
};
