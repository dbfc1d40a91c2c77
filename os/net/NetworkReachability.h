#pragma once
// Whether a host name or an IPv4 address can be reached, as the platform's reachability flags,
// with a change callback delivered on a run loop or through a callback target (a dispatch
// queue's async). The flags come from a process-wide provider: the system provider reads the
// interfaces and routes (the WWAN bit is never set on Linux); tests install a fake one.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace os {

class RunLoop;
class DispatchQueue;

enum ReachabilityFlags : std::uint32_t {
  kReachabilityFlagsTransientConnection = 1u << 0,
  kReachabilityFlagsReachable = 1u << 1,
  kReachabilityFlagsConnectionRequired = 1u << 2,
  kReachabilityFlagsConnectionOnTraffic = 1u << 3,
  kReachabilityFlagsInterventionRequired = 1u << 4,
  kReachabilityFlagsConnectionOnDemand = 1u << 5,
  kReachabilityFlagsIsLocalAddress = 1u << 16,
  kReachabilityFlagsIsDirect = 1u << 17,
  kReachabilityFlagsIsWWAN = 1u << 18,
};

// What a handle watches: a host name, or an IPv4 address (host byte order).
struct ReachabilityTarget {
  std::string hostName;
  std::optional<std::uint32_t> address;
  // The host name, or the address as dotted text ("0.0.0.0" for the internet at large,
  // "169.254.0.0" for the link-local network).
  std::string key() const;
};

class ReachabilityProvider {
 public:
  virtual ~ReachabilityProvider() = default;
  // The current flags, absent when they cannot be read.
  virtual std::optional<std::uint32_t> flags(const ReachabilityTarget& target) = 0;

  // Observers hear (on the notifying thread) that flags may have changed.
  int addChangeObserver(std::function<void()> observer);
  void removeChangeObserver(int token);
  void notifyChanged();

  // The process-wide provider; nullptr restores the system provider.
  static std::shared_ptr<ReachabilityProvider> shared();
  static void setShared(std::shared_ptr<ReachabilityProvider> provider);
  static std::shared_ptr<ReachabilityProvider> makeSystemProvider();

 private:
  std::mutex mutex_;
  int nextToken_ = 1;
  std::vector<std::pair<int, std::shared_ptr<std::function<void()>>>> observers_;
};

class NetworkReachability : public std::enable_shared_from_this<NetworkReachability> {
 public:
  using Callback = std::function<void(NetworkReachability& reachability, std::uint32_t flags)>;
  using Task = std::function<void()>;
  using CallbackTarget = std::function<void(Task)>;

  // nullptr for an empty host name.
  static std::shared_ptr<NetworkReachability> withHostName(const std::string& hostName);
  // nullptr unless the address is IPv4.
  static std::shared_ptr<NetworkReachability> withAddress(const sockaddr_in& address);
  static std::shared_ptr<NetworkReachability> withAddress(std::uint32_t hostOrderAddress);
  // 0.0.0.0: the internet at large (the default route).
  static std::shared_ptr<NetworkReachability> forInternetConnection() { return withAddress(0u); }
  // 169.254.0.0: the local (Wi-Fi) network.
  static std::shared_ptr<NetworkReachability> forLinkLocalNetwork() { return withAddress(0xA9FE0000u); }
  ~NetworkReachability();

  const ReachabilityTarget& target() const { return target_; }
  // Current flags from the shared provider; absent when they cannot be read. Any thread.
  std::optional<std::uint32_t> flags() const;

  // An empty callback removes it.
  bool setCallback(Callback callback);
  // Changes are delivered on `loop` (or through `target`); scheduling again replaces the place.
  bool scheduleWithRunLoop(const std::shared_ptr<RunLoop>& loop);
  bool setCallbackTarget(CallbackTarget target);
  // Changes are delivered asynchronously on `queue`; nullptr unschedules.
  bool setDispatchQueue(const std::shared_ptr<DispatchQueue>& queue);
  void unschedule();

  explicit NetworkReachability(ReachabilityTarget target) : target_(std::move(target)) {}

 private:
  void providerChanged();
  bool attach(CallbackTarget target);

  ReachabilityTarget target_;
  mutable std::mutex mutex_;
  Callback callback_;
  CallbackTarget deliver_;
  std::shared_ptr<ReachabilityProvider> provider_;
  int observerToken_ = 0;
  std::optional<std::uint32_t> lastFlags_;
};

}  // namespace os
