#include "qqconnect/requests/TCOSDKReachability.h"

#include <cstdio>

#include "os/net/NetworkReachability.h"

long TCOSDKReachability::networkStatusForFlags(std::uint32_t flags, bool localWiFi) {
  if (!(flags & os::kReachabilityFlagsReachable)) return 0;
  if (localWiFi) return flags & os::kReachabilityFlagsIsDirect ? 2 : 0;
  if (flags & os::kReachabilityFlagsIsWWAN) return 1;
  const std::uint32_t rest = flags & ~(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect |
                                       os::kReachabilityFlagsIsLocalAddress);
  // A transient connection that still has to be made is no connection yet.
  if (rest == (os::kReachabilityFlagsTransientConnection | os::kReachabilityFlagsConnectionRequired)) return 0;
  if (rest == 0 || (rest & os::kReachabilityFlagsTransientConnection) ||
      (rest & os::kReachabilityFlagsConnectionRequired))
    return 2;
  return 0;
}

ReachabilityProfile TCOSDKReachability::profile() {
  ReachabilityProfile p;
  p.classifier = [](std::uint32_t flags, const Reachability& watcher) -> long {
    return networkStatusForFlags(flags, watcher.isLocalWiFi());
  };
  p.notificationName = kTCOSDKReachabilityChangedNotification;
  p.delivery = ReachabilityProfile::Delivery::StartingRunLoop;
  p.broadcast = ReachabilityProfile::Broadcast::DeliveryThread;
  return p;
}

std::shared_ptr<TCOSDKReachability> TCOSDKReachability::make(std::shared_ptr<Reachability> watcher, std::string key) {
  if (!watcher) return nullptr;
  return std::make_shared<TCOSDKReachability>(std::move(watcher), std::move(key));
}

std::string TCOSDKReachability::makeAddressKey(const sockaddr_in& address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address.sin_addr.s_addr);
  char buf[20];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return buf;
}

std::shared_ptr<TCOSDKReachability> TCOSDKReachability::reachabilityWithHostName(const std::string& hostName) {
  return make(Reachability::reachabilityWithHostName(hostName, profile()), hostName);
}

std::shared_ptr<TCOSDKReachability> TCOSDKReachability::reachabilityWithAddress(const sockaddr_in& address) {
  return make(Reachability::reachabilityWithAddress(address, profile()), makeAddressKey(address));
}

std::shared_ptr<TCOSDKReachability> TCOSDKReachability::reachabilityForInternetConnection() {
  return make(Reachability::reachabilityForInternetConnection(profile()), kTCOSDKInternetConnectionKey);
}

std::shared_ptr<TCOSDKReachability> TCOSDKReachability::reachabilityForLocalWiFi() {
  return make(Reachability::reachabilityForLocalWiFi(profile()), kTCOSDKLocalWiFiConnectionKey);
}
