#include "os/net/NetworkReachability.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <fstream>
#include <sstream>

#include "os/net/HostLookup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"

namespace os {

std::string ReachabilityTarget::key() const {
  if (!address) return hostName;
  in_addr a{};
  a.s_addr = htonl(*address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

int ReachabilityProvider::addChangeObserver(std::function<void()> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  int token = nextToken_++;
  observers_.emplace_back(token, std::make_shared<std::function<void()>>(std::move(observer)));
  return token;
}

void ReachabilityProvider::removeChangeObserver(int token) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(observers_, [&](const auto& o) { return o.first == token; });
}

void ReachabilityProvider::notifyChanged() {
  decltype(observers_) copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    copy = observers_;
  }
  for (auto& [token, observer] : copy) (*observer)();
}

namespace {

// Reads the interfaces and the routing table each time it is asked; it does not watch the
// kernel for changes, so a change reaches observers only through notifyChanged().
class SystemReachabilityProvider : public ReachabilityProvider {
 public:
  std::optional<std::uint32_t> flags(const ReachabilityTarget& target) override {
    std::uint32_t address;
    if (target.address) {
      address = *target.address;
    } else {
      auto resolved = HostLookup::firstIPv4Address(target.hostName);
      if (!resolved) return 0u;
      in_addr a{};
      if (inet_pton(AF_INET, resolved->c_str(), &a) != 1) return 0u;
      address = ntohl(a.s_addr);
    }
    return flagsForAddress(address);
  }

 private:
  struct Interface {
    std::uint32_t address, netmask;
    bool loopback;
  };

  static std::vector<Interface> interfaces() {
    std::vector<Interface> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
      if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING)) continue;
      Interface f;
      f.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
      f.netmask = i->ifa_netmask ? ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr) : 0xFFFFFFFFu;
      f.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
      out.push_back(f);
    }
    freeifaddrs(list);
    return out;
  }

  static bool hasDefaultRoute() {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
      std::istringstream fields(line);
      std::string iface, destination, gateway;
      unsigned flags = 0;
      fields >> iface >> destination >> gateway >> std::hex >> flags;
      if (destination == "00000000" && (flags & 0x1)) return true;  // RTF_UP
    }
    return false;
  }

  static std::uint32_t flagsForAddress(std::uint32_t address) {
    constexpr std::uint32_t kLinkLocalNetwork = 0xA9FE0000u;  // 169.254.0.0
    auto list = interfaces();
    if (address == 0) return hasDefaultRoute() ? kReachabilityFlagsReachable : 0u;
    if (address == kLinkLocalNetwork) {
      for (const auto& i : list)
        if (!i.loopback) return kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;
      return 0u;
    }
    if ((address >> 24) == 127)
      return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;
    for (const auto& i : list)
      if (i.address == address)
        return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;
    for (const auto& i : list)
      if (!i.loopback && (i.address & i.netmask) == (address & i.netmask))
        return kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;
    return hasDefaultRoute() ? kReachabilityFlagsReachable : 0u;
  }
};

// Never destroyed: work on other threads may ask for the provider while the process exits.
std::mutex& gProviderMutex = *new std::mutex;
std::shared_ptr<ReachabilityProvider>& gProvider = *new std::shared_ptr<ReachabilityProvider>;

}  // namespace

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::makeSystemProvider() {
  return std::make_shared<SystemReachabilityProvider>();
}

std::shared_ptr<ReachabilityProvider> ReachabilityProvider::shared() {
  std::lock_guard<std::mutex> lock(gProviderMutex);
  if (!gProvider) gProvider = makeSystemProvider();
  return gProvider;
}

void ReachabilityProvider::setShared(std::shared_ptr<ReachabilityProvider> provider) {
  std::lock_guard<std::mutex> lock(gProviderMutex);
  gProvider = std::move(provider);
}

std::shared_ptr<NetworkReachability> NetworkReachability::withHostName(const std::string& hostName) {
  if (hostName.empty()) return nullptr;
  return std::make_shared<NetworkReachability>(ReachabilityTarget{hostName, std::nullopt});
}

std::shared_ptr<NetworkReachability> NetworkReachability::withAddress(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return nullptr;
  return withAddress(ntohl(address.sin_addr.s_addr));
}

std::shared_ptr<NetworkReachability> NetworkReachability::withAddress(std::uint32_t hostOrderAddress) {
  return std::make_shared<NetworkReachability>(ReachabilityTarget{{}, hostOrderAddress});
}

NetworkReachability::~NetworkReachability() { unschedule(); }

std::optional<std::uint32_t> NetworkReachability::flags() const { return ReachabilityProvider::shared()->flags(target_); }

bool NetworkReachability::setCallback(Callback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = std::move(callback);
  return true;
}

bool NetworkReachability::scheduleWithRunLoop(const std::shared_ptr<RunLoop>& loop) {
  if (!loop) return false;
  std::weak_ptr<RunLoop> weak = loop;
  return attach([weak](Task task) {
    if (auto l = weak.lock()) l->post(std::move(task));
  });
}

bool NetworkReachability::setCallbackTarget(CallbackTarget target) {
  if (!target) {
    unschedule();
    return true;
  }
  return attach(std::move(target));
}

bool NetworkReachability::setDispatchQueue(const std::shared_ptr<DispatchQueue>& queue) {
  if (!queue) {
    unschedule();
    return true;
  }
  return attach([queue](Task task) { queue->async(std::move(task)); });
}

bool NetworkReachability::attach(CallbackTarget target) {
  unschedule();
  auto provider = ReachabilityProvider::shared();
  // Changes are measured from the flags at the time of scheduling.
  auto initial = provider->flags(target_);
  std::weak_ptr<NetworkReachability> weak = weak_from_this();
  int token = provider->addChangeObserver([weak] {
    if (auto self = weak.lock()) self->providerChanged();
  });
  std::lock_guard<std::mutex> lock(mutex_);
  deliver_ = std::move(target);
  provider_ = provider;
  observerToken_ = token;
  lastFlags_ = initial;
  return true;
}

void NetworkReachability::unschedule() {
  std::shared_ptr<ReachabilityProvider> provider;
  int token;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    provider = std::move(provider_);
    token = observerToken_;
    observerToken_ = 0;
    deliver_ = nullptr;
  }
  if (provider) provider->removeChangeObserver(token);
}

void NetworkReachability::providerChanged() {
  std::shared_ptr<ReachabilityProvider> provider;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    provider = provider_;
  }
  if (!provider) return;
  auto now = provider->flags(target_);
  CallbackTarget deliver;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!deliver_ || now == lastFlags_) return;
    lastFlags_ = now;
    deliver = deliver_;
  }
  std::uint32_t flags = now.value_or(0);
  std::weak_ptr<NetworkReachability> weak = weak_from_this();
  deliver([weak, flags] {
    auto self = weak.lock();
    if (!self) return;
    Callback callback;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (!self->deliver_) return;  // unscheduled meanwhile
      callback = self->callback_;
    }
    if (callback) callback(*self, flags);
  });
}

}  // namespace os
