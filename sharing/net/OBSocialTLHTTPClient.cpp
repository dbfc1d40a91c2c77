#include "sharing/net/OBSocialTLHTTPClient.h"

#include <cctype>

#include "foundation/net/Reachability.h"
#include "os/core/String.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"

namespace {

// A literal IPv4 or IPv6 address rather than a name to resolve.
bool isNumericHost(const std::string& host) {
  if (host.find(':') != std::string::npos) {
    for (char c : host)
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    return true;
  }
  auto parts = os::split(host, ".");
  if (parts.size() != 4) return false;
  for (const auto& part : parts) {
    if (part.empty() || part.size() > 3) return false;
    for (char c : part)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    if (os::intValue(part) > 255) return false;
  }
  return true;
}

}  // namespace

const TLNetworkingEdition& OBSocialTLNetworkingEdition() {
  static const TLNetworkingEdition kEdition{kOBSocialTLNetworkingErrorDomain,
                                            kOBSocialTLNetworkingOperationFailingURLRequestErrorKey,
                                            kOBSocialTLNetworkingOperationFailingURLResponseErrorKey,
                                            "OBSocialLocalizable",
                                            "OBSocialTLNetworking",
                                            /*textTypesDefaultToLatin1=*/false,
                                            /*cancellationCallsFailure=*/false,
                                            /*broadcastsOnMainQueue=*/false,
                                            /*copiesAndArchives=*/false};
  return kEdition;
}

const TLQueryStringRules& OBSocialTLQueryStringRules() {
  // What the platform's URL escaping leaves alone, less ":/?&=;+!@#$()~"; "[]." stay.
  static const TLQueryStringRules kRules{
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._'*,[]", false, false};
  return kRules;
}

std::string OBSocialTLAcceptLanguageHeader(const std::vector<std::string>& preferredLanguages) {
  return os::join(preferredLanguages, ", ") + ", en-us;q=0.8";
}

OBSocialTLHTTPClient::OBSocialTLHTTPClient(const os::URL& baseURL, const TLHTTPClientEnvironment& environment)
    : TLHTTPClient(baseURL, environment, OBSocialTLNetworkingEdition()) {
  setQueryStringRules(OBSocialTLQueryStringRules());
  setDefaultHeader("Accept-Language", OBSocialTLAcceptLanguageHeader(environment.preferredLanguages));
}

OBSocialTLHTTPClient::~OBSocialTLHTTPClient() { stopMonitoringNetworkReachability(); }

std::shared_ptr<OBSocialTLHTTPClient> OBSocialTLHTTPClient::clientWithBaseURL(const os::URL& baseURL) {
  auto client = std::make_shared<OBSocialTLHTTPClient>(baseURL);
  client->startMonitoringNetworkReachability();
  return client;
}

void OBSocialTLHTTPClient::startMonitoringNetworkReachability() {
  stopMonitoringNetworkReachability();
  const std::string host = baseURL().host().value_or("");
  if (host.empty()) return;
  ReachabilityProfile profile;
  // The watcher's own broadcast is private; the client posts the edition's notification.
  profile.notificationName = "OBSocialTLNetworkingReachabilityWatcher";
  profile.delivery = ReachabilityProfile::Delivery::StartingRunLoop;
  auto reachability = Reachability::reachabilityWithHostName(host, profile);
  if (!reachability) return;
  std::weak_ptr<TLHTTPClient> weak = weak_from_this();
  auto changed = [weak](Reachability& watcher) {
    if (auto client = std::static_pointer_cast<OBSocialTLHTTPClient>(weak.lock()))
      client->statusChanged(watcher.currentReachabilityStatus(), true);
  };
  reachability->setReachableBlock(changed);
  reachability->setUnreachableBlock(changed);
  reachability->startNotifier();
  {
    std::lock_guard lock(mutex_);
    reachability_ = reachability;
  }
  // No change would ever arrive for a numeric address: report its status once, quietly.
  if (isNumericHost(os::trimCharacters(host, "[]"))) {
    long status = reachability->currentReachabilityStatus();
    os::DispatchQueue::main()->async([weak, status] {
      if (auto client = std::static_pointer_cast<OBSocialTLHTTPClient>(weak.lock())) client->statusChanged(status, false);
    });
  }
}

void OBSocialTLHTTPClient::stopMonitoringNetworkReachability() {
  std::shared_ptr<Reachability> reachability;
  {
    std::lock_guard lock(mutex_);
    reachability.swap(reachability_);
  }
  if (reachability) reachability->stopNotifier();
}

void OBSocialTLHTTPClient::setReachabilityStatusChangeBlock(StatusBlock block) {
  std::lock_guard lock(mutex_);
  statusBlock_ = std::move(block);
}

long OBSocialTLHTTPClient::networkReachabilityStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void OBSocialTLHTTPClient::statusChanged(long status, bool broadcast) {
  StatusBlock block;
  {
    std::lock_guard lock(mutex_);
    status_ = status;
    block = statusBlock_;
  }
  if (block) block(status);
  if (broadcast)
    os::NotificationCenter::defaultCenter().post(
        kOBSocialTLNetworkingReachabilityDidChangeNotification, nullptr,
        os::Dictionary{{kOBSocialTLNetworkingReachabilityNotificationStatusItem, os::Value(status)}});
}

std::shared_ptr<TLHTTPRequestOperation> OBSocialTLHTTPRequestOperation(os::URLRequest request) {
  return std::make_shared<TLHTTPRequestOperation>(std::move(request), OBSocialTLNetworkingEdition());
}
