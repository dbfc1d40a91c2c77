#pragma once
// Watches whether a host name or an IPv4 address can be reached, and how (Wi-Fi or the cellular
// network). Questions are answered from the current flags on the caller's thread. Once its
// notifier runs, a watcher keeps itself alive, calls its reachable or unreachable closure at each
// change and broadcasts a change notification with itself as the object.
//
// The clients that carry their own copy of this watcher differ in how flags become a status, in
// the notification's name and centre, and in where changes are delivered: all three are the
// ReachabilityProfile.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace os {
class DispatchQueue;
class NetworkReachability;
class NotificationCenter;
}  // namespace os

class Reachability;

inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";

enum NetworkStatus : long { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };

struct ReachabilityProfile {
  // The status of a watcher for a set of flags.
  using Classifier = std::function<long(std::uint32_t flags, const Reachability& watcher)>;
  enum class Delivery {
    SerialQueue,     // changes arrive on the watcher's own serial queue
    StartingRunLoop  // changes arrive on the run loop of the thread that started the notifier
  };
  enum class Broadcast {
    MainQueue,       // posted asynchronously on the main queue
    DeliveryThread   // posted at once where the change arrived
  };

  Classifier classifier = &ReachabilityProfile::standardStatus;
  std::string notificationName = kReachabilityChangedNotification;
  // Null: the default centre. A centre given here must outlive the watchers.
  os::NotificationCenter* center = nullptr;
  Delivery delivery = Delivery::SerialQueue;
  Broadcast broadcast = Broadcast::MainQueue;
  std::string queueLabel = "com.corbewell.reachability";

  static ReachabilityProfile standard() { return {}; }
  // Not reachable, or reachable over Wi-Fi (2) or the cellular network (1) by the watcher's rule.
  static long standardStatus(std::uint32_t flags, const Reachability& watcher);
};

class Reachability : public std::enable_shared_from_this<Reachability> {
  struct Key {};

 public:
  using Block = std::function<void(Reachability&)>;

  // Absent when no handle can be made for the target.
  static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostName,
                                                                const ReachabilityProfile& profile = {});
  static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostName,
                                                                const ReachabilityProfile& profile = {}) {
    return reachabilityWithHostName(hostName, profile);
  }
  static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr_in& address,
                                                               const ReachabilityProfile& profile = {});
  // 0.0.0.0: the default route.
  static std::shared_ptr<Reachability> reachabilityForInternetConnection(const ReachabilityProfile& profile = {});
  // 169.254.0.0: the link-local network.
  static std::shared_ptr<Reachability> reachabilityForLocalWiFi(const ReachabilityProfile& profile = {});
  static std::shared_ptr<Reachability> initWithReachabilityRef(std::shared_ptr<os::NetworkReachability> ref,
                                                               const ReachabilityProfile& profile = {});

  Reachability(Key, std::shared_ptr<os::NetworkReachability> ref, ReachabilityProfile profile);
  ~Reachability();
  Reachability(const Reachability&) = delete;
  Reachability& operator=(const Reachability&) = delete;

  // False (and left idle) when the changes cannot be scheduled.
  bool startNotifier();
  void stopNotifier();

  bool isReachableWithFlags(std::uint32_t flags) const;
  bool isReachable() const;
  bool isReachableViaWWAN() const;
  bool isReachableViaWiFi() const;
  bool isConnectionRequired() const;
  bool connectionRequired() const { return isConnectionRequired(); }
  bool isConnectionOnDemand() const;
  bool isInterventionRequired() const;
  long currentReachabilityStatus() const;
  // 0 when the flags cannot be read.
  std::uint32_t reachabilityFlags() const;
  // "WiFi", "Cellular" or "No Connection", through the main bundle's strings table.
  std::string currentReachabilityString() const;
  // The flags as "WR ctiCDld", a "-" for each flag that is clear.
  std::string currentReachabilityFlags() const;
  std::string description() const;

  // The host name, or the address as dotted text.
  std::string key() const;
  // Created for the link-local network.
  bool isLocalWiFi() const;
  const ReachabilityProfile& profile() const { return profile_; }

  bool reachableOnWWAN() const;
  void setReachableOnWWAN(bool reachable);
  Block reachableBlock() const;
  void setReachableBlock(Block block);
  Block unreachableBlock() const;
  void setUnreachableBlock(Block block);
  // The watcher itself while its notifier runs.
  std::shared_ptr<Reachability> reachabilityObject() const;
  std::shared_ptr<os::DispatchQueue> reachabilitySerialQueue() const;

 private:
  void changed(std::uint32_t flags);
  void undoNotifier();

  const std::shared_ptr<os::NetworkReachability> ref_;
  const ReachabilityProfile profile_;
  mutable std::mutex mutex_;
  bool reachableOnWWAN_ = true;
  Block reachableBlock_, unreachableBlock_;
  std::shared_ptr<Reachability> reachabilityObject_;
  std::shared_ptr<os::DispatchQueue> reachabilitySerialQueue_;
};
