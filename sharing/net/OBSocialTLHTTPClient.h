#pragma once
// The sharing component's edition of the HTTP client: the networking layer's client with the
// component's error domain, strings table and network thread, its own query-string rules (keys
// in the dictionary's order, sets as one value, "~" escaped and "'", "," and "*" kept), an
// Accept-Language of every preferred language, and reachability monitoring of its base URL's
// host. Its operations announce their start and finish at once on the thread that changes their
// state, and neither its clients nor its operations can be copied or archived.
#include <functional>
#include <memory>
#include <string>

#include "foundation/http/TLHTTPClient.h"
#include "foundation/http/TLHTTPRequestOperation.h"

class Reachability;

inline constexpr const char* kOBSocialTLNetworkingErrorDomain = "OBSocialTLNetworkingErrorDomain";
inline constexpr const char* kOBSocialTLNetworkingOperationFailingURLRequestErrorKey =
    "OBSocialTLNetworkingOperationFailingURLRequestErrorKey";
inline constexpr const char* kOBSocialTLNetworkingOperationFailingURLResponseErrorKey =
    "OBSocialTLNetworkingOperationFailingURLResponseErrorKey";
inline constexpr const char* kOBSocialTLNetworkingReachabilityDidChangeNotification =
    "com.tessaline.networking.reachability.change";
inline constexpr const char* kOBSocialTLNetworkingReachabilityNotificationStatusItem =
    "TLNetworkingReachabilityNotificationStatusItem";

const TLNetworkingEdition& OBSocialTLNetworkingEdition();
const TLQueryStringRules& OBSocialTLQueryStringRules();

enum OBSocialTLNetworkReachabilityStatus : long {
  OBSocialTLNetworkReachabilityStatusUnknown = -1,
  OBSocialTLNetworkReachabilityStatusNotReachable = 0,
  OBSocialTLNetworkReachabilityStatusReachableViaWWAN = 1,
  OBSocialTLNetworkReachabilityStatusReachableViaWiFi = 2,
};

class OBSocialTLHTTPClient : public TLHTTPClient {
 public:
  using StatusBlock = std::function<void(long status)>;

  explicit OBSocialTLHTTPClient(const os::URL& baseURL,
                                const TLHTTPClientEnvironment& environment = TLHTTPClientEnvironment::current());
  ~OBSocialTLHTTPClient() override;
  static std::shared_ptr<OBSocialTLHTTPClient> clientWithBaseURL(const os::URL& baseURL);
  std::string className() const override { return "OBSocialTLHTTPClient"; }

  // Starts watching the base URL's host (the constructor's caller does, through this, once the
  // client is shared). A numeric host reports its first status on the main queue without a
  // notification.
  void startMonitoringNetworkReachability();
  void stopMonitoringNetworkReachability();
  void setReachabilityStatusChangeBlock(StatusBlock block);
  long networkReachabilityStatus() const;

 private:
  void statusChanged(long status, bool broadcast);

  mutable std::mutex mutex_;
  std::shared_ptr<Reachability> reachability_;
  long status_ = OBSocialTLNetworkReachabilityStatusUnknown;
  StatusBlock statusBlock_;
};

// An HTTP request operation of the sharing component's edition.
std::shared_ptr<TLHTTPRequestOperation> OBSocialTLHTTPRequestOperation(os::URLRequest request);

// "lang1, lang2, en-us;q=0.8".
std::string OBSocialTLAcceptLanguageHeader(const std::vector<std::string>& preferredLanguages);
