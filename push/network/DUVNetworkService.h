#pragma once
// The push client's network hub: watches the network and starts the TCP session only when the
// stored identity has been verified and the network is reachable. Any change of reachability
// closes the session and sets it up again when the network is there.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/runtime/NotificationCenter.h"

class DUVUserDefaults;
class DUVReachability;

// 4 on Wi-Fi, the carrier's code (Part of the utilities) on the cellular network, 0 otherwise.
int DUVNetworkTypeFromCarrierName(const std::optional<std::string>& carrierName);

class DUVNetworkService : public std::enable_shared_from_this<DUVNetworkService> {
 public:
  // What the service drives: the TCP session's setup and close.
  struct Session {
    std::function<void()> setup;
    std::function<void()> close;
    // The report scheduler, told of every try with the network status.
    std::function<void(long status)> report;
  };
  // Made on the client thread, whose run loop takes the reachability changes. The centre and the
  // identity must outlive the service.
  static std::shared_ptr<DUVNetworkService> create(os::NotificationCenter& center,
                                                   std::shared_ptr<DUVUserDefaults> identity, Session session);
  ~DUVNetworkService();

  // 0 not reachable, 2 Wi-Fi, 3 cellular.
  long currentNetworkStatus() const;
  void trySetupSession();
  void reachabilityChanged();

  struct PrivateTag {};
  DUVNetworkService(PrivateTag, os::NotificationCenter& center, std::shared_ptr<DUVUserDefaults> identity,
                    Session session)
      : center_(center), identity_(std::move(identity)), session_(std::move(session)) {}

 private:
  os::NotificationCenter& center_;
  std::shared_ptr<DUVUserDefaults> identity_;
  Session session_;
  std::shared_ptr<DUVReachability> internetReachability_;
};
