#include "foundation/net/Reachability.h"

#include <arpa/inet.h>

#include <cstdio>

#include "os/net/NetworkReachability.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Bundle.h"

namespace {

constexpr std::uint32_t kLinkLocalNetwork = 0xA9FE0000u;  // 169.254.0.0

bool has(std::uint32_t flags, std::uint32_t bits) { return (flags & bits) != 0; }

}  // namespace

long ReachabilityProfile::standardStatus(std::uint32_t flags, const Reachability& watcher) {
  if (!watcher.isReachableWithFlags(flags)) return NotReachable;
  return has(flags, os::kReachabilityFlagsIsWWAN) ? ReachableViaWWAN : ReachableViaWiFi;
}

std::shared_ptr<Reachability> Reachability::initWithReachabilityRef(std::shared_ptr<os::NetworkReachability> ref,
                                                                    const ReachabilityProfile& profile) {
  if (!ref) return nullptr;
  return std::make_shared<Reachability>(Key{}, std::move(ref), profile);
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(const std::string& hostName,
                                                                     const ReachabilityProfile& profile) {
  return initWithReachabilityRef(os::NetworkReachability::withHostName(hostName), profile);
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in& address,
                                                                    const ReachabilityProfile& profile) {
  return initWithReachabilityRef(os::NetworkReachability::withAddress(address), profile);
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection(const ReachabilityProfile& profile) {
  return initWithReachabilityRef(os::NetworkReachability::forInternetConnection(), profile);
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi(const ReachabilityProfile& profile) {
  return initWithReachabilityRef(os::NetworkReachability::forLinkLocalNetwork(), profile);
}

Reachability::Reachability(Key, std::shared_ptr<os::NetworkReachability> ref, ReachabilityProfile profile)
    : ref_(std::move(ref)), profile_(std::move(profile)) {}

Reachability::~Reachability() {
  // Nothing can be notifying here (a running notifier holds the watcher), but the handle may
  // still carry a callback set by a failed start.
  ref_->setCallback(nullptr);
  ref_->unschedule();
}

bool Reachability::startNotifier() {
  stopNotifier();
  auto self = shared_from_this();
  std::shared_ptr<os::DispatchQueue> queue;
  if (profile_.delivery == ReachabilityProfile::Delivery::SerialQueue)
    queue = os::DispatchQueue::create(profile_.queueLabel);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reachabilityObject_ = self;
    reachabilitySerialQueue_ = queue;
  }
  // The handle calls back through a weak reference: the self-reference above is what keeps the
  // watcher alive, and stopNotifier ends it.
  std::weak_ptr<Reachability> weak = self;
  bool ok = ref_->setCallback([weak](os::NetworkReachability&, std::uint32_t flags) {
    if (auto watcher = weak.lock()) watcher->changed(flags);
  });
  if (ok) {
    ok = queue ? ref_->setDispatchQueue(queue) : ref_->scheduleWithRunLoop(os::RunLoop::current());
  }
  if (!ok) undoNotifier();
  return ok;
}

void Reachability::undoNotifier() {
  ref_->setCallback(nullptr);
  ref_->unschedule();
  std::shared_ptr<Reachability> self;
  std::shared_ptr<os::DispatchQueue> queue;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    self = std::move(reachabilityObject_);
    queue = std::move(reachabilitySerialQueue_);
  }
  // `self` may be the last reference: it goes at the end of this scope, after the lock.
}

void Reachability::stopNotifier() { undoNotifier(); }

void Reachability::changed(std::uint32_t flags) {
  const bool up = profile_.classifier(flags, *this) != NotReachable;
  Block block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    block = up ? reachableBlock_ : unreachableBlock_;
  }
  if (block) block(*this);

  os::NotificationCenter& center = profile_.center ? *profile_.center : os::NotificationCenter::defaultCenter();
  const std::string name = profile_.notificationName;
  if (profile_.broadcast == ReachabilityProfile::Broadcast::DeliveryThread) {
    center.post(name, this);
    return;
  }
  // The broadcast holds the watcher until it has been posted.
  auto self = shared_from_this();
  os::DispatchQueue::main()->async([self, name, &center] { center.post(name, self.get()); });
}

bool Reachability::isReachableWithFlags(std::uint32_t flags) const {
  if (!has(flags, os::kReachabilityFlagsReachable)) return false;
  if (has(flags, os::kReachabilityFlagsConnectionRequired) && has(flags, os::kReachabilityFlagsTransientConnection))
    return false;
  if (has(flags, os::kReachabilityFlagsIsWWAN) && !reachableOnWWAN()) return false;
  return true;
}

std::uint32_t Reachability::reachabilityFlags() const { return ref_->flags().value_or(0); }

bool Reachability::isReachable() const {
  auto flags = ref_->flags();
  return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() const {
  const std::uint32_t f = reachabilityFlags();
  return has(f, os::kReachabilityFlagsReachable) && has(f, os::kReachabilityFlagsIsWWAN);
}

bool Reachability::isReachableViaWiFi() const {
  const std::uint32_t f = reachabilityFlags();
  return has(f, os::kReachabilityFlagsReachable) && !has(f, os::kReachabilityFlagsIsWWAN);
}

bool Reachability::isConnectionRequired() const {
  return has(reachabilityFlags(), os::kReachabilityFlagsConnectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
  const std::uint32_t f = reachabilityFlags();
  return has(f, os::kReachabilityFlagsConnectionRequired) &&
         has(f, os::kReachabilityFlagsConnectionOnTraffic | os::kReachabilityFlagsConnectionOnDemand);
}

bool Reachability::isInterventionRequired() const {
  const std::uint32_t f = reachabilityFlags();
  return has(f, os::kReachabilityFlagsConnectionRequired) && has(f, os::kReachabilityFlagsInterventionRequired);
}

long Reachability::currentReachabilityStatus() const {
  auto flags = ref_->flags();
  return flags ? profile_.classifier(*flags, *this) : NotReachable;
}

std::string Reachability::currentReachabilityString() const {
  const char* text = "No Connection";
  switch (currentReachabilityStatus()) {
    case ReachableViaWWAN: text = "Cellular"; break;
    case ReachableViaWiFi: text = "WiFi"; break;
    default: break;
  }
  return os::Bundle::mainBundle()->localizedStringForKey(text, text);
}

std::string Reachability::currentReachabilityFlags() const {
  const std::uint32_t f = reachabilityFlags();
  auto c = [&](std::uint32_t bit, char letter) { return has(f, bit) ? letter : '-'; };
  std::string s;
  s += c(os::kReachabilityFlagsIsWWAN, 'W');
  s += c(os::kReachabilityFlagsReachable, 'R');
  s += ' ';
  s += c(os::kReachabilityFlagsConnectionRequired, 'c');
  s += c(os::kReachabilityFlagsTransientConnection, 't');
  s += c(os::kReachabilityFlagsInterventionRequired, 'i');
  s += c(os::kReachabilityFlagsConnectionOnTraffic, 'C');
  s += c(os::kReachabilityFlagsConnectionOnDemand, 'D');
  s += c(os::kReachabilityFlagsIsLocalAddress, 'l');
  s += c(os::kReachabilityFlagsIsDirect, 'd');
  return s;
}

std::string Reachability::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<Reachability: %#lx>", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
  return buf;
}

std::string Reachability::key() const { return ref_->target().key(); }

bool Reachability::isLocalWiFi() const {
  const auto& target = ref_->target();
  return target.address && *target.address == kLinkLocalNetwork;
}

bool Reachability::reachableOnWWAN() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reachableOnWWAN_;
}

void Reachability::setReachableOnWWAN(bool reachable) {
  std::lock_guard<std::mutex> lock(mutex_);
  reachableOnWWAN_ = reachable;
}

Reachability::Block Reachability::reachableBlock() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reachableBlock_;
}

void Reachability::setReachableBlock(Block block) {
  std::lock_guard<std::mutex> lock(mutex_);
  reachableBlock_ = std::move(block);
}

Reachability::Block Reachability::unreachableBlock() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unreachableBlock_;
}

void Reachability::setUnreachableBlock(Block block) {
  std::lock_guard<std::mutex> lock(mutex_);
  unreachableBlock_ = std::move(block);
}

std::shared_ptr<Reachability> Reachability::reachabilityObject() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reachabilityObject_;
}

std::shared_ptr<os::DispatchQueue> Reachability::reachabilitySerialQueue() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reachabilitySerialQueue_;
}
