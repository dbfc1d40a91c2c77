#include "push/network/DUVReachability.h"

#include "os/net/NetworkReachability.h"
#include "push/model/DUVNotifications.h"

long DUVReachability::networkStatusForFlags(std::uint32_t flags) {
  if (!(flags & os::kReachabilityFlagsReachable)) return 0;
  long status = 0;
  if (!(flags & os::kReachabilityFlagsConnectionRequired)) status = 2;
  if ((flags & (os::kReachabilityFlagsConnectionOnDemand | os::kReachabilityFlagsConnectionOnTraffic)) &&
      !(flags & os::kReachabilityFlagsInterventionRequired))
    status = 2;
  if (flags & os::kReachabilityFlagsIsWWAN) status = 3;
  return status;
}

long DUVReachability::localWiFiStatusForFlags(std::uint32_t flags) {
  return (flags & os::kReachabilityFlagsReachable) && (flags & os::kReachabilityFlagsIsDirect) ? 2 : 0;
}

ReachabilityProfile DUVReachability::profile(os::NotificationCenter& center) {
  ReachabilityProfile profile;
  profile.classifier = [](std::uint32_t flags, const Reachability& watcher) -> long {
    return watcher.isLocalWiFi() ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
  };
  profile.notificationName = kDUVNetworkReachabilityChangedNotification;
  profile.center = &center;
  profile.delivery = ReachabilityProfile::Delivery::StartingRunLoop;
  profile.broadcast = ReachabilityProfile::Broadcast::DeliveryThread;
  return profile;
}

std::shared_ptr<DUVReachability> DUVReachability::make(std::shared_ptr<Reachability> watcher) {
  if (!watcher) return nullptr;
  return std::make_shared<DUVReachability>(std::move(watcher));
}

std::shared_ptr<DUVReachability> DUVReachability::reachabilityWithHostName(const std::string& hostName,
                                                                           os::NotificationCenter& center) {
  return make(Reachability::reachabilityWithHostName(hostName, profile(center)));
}

std::shared_ptr<DUVReachability> DUVReachability::reachabilityWithAddress(const sockaddr_in& address,
                                                                          os::NotificationCenter& center) {
  return make(Reachability::reachabilityWithAddress(address, profile(center)));
}

std::shared_ptr<DUVReachability> DUVReachability::reachabilityForInternetConnection(os::NotificationCenter& center) {
  return make(Reachability::reachabilityForInternetConnection(profile(center)));
}

std::shared_ptr<DUVReachability> DUVReachability::reachabilityForLocalWiFi(os::NotificationCenter& center) {
  return make(Reachability::reachabilityForLocalWiFi(profile(center)));
}
