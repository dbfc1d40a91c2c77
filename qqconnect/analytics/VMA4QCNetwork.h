#pragma once
// The analytics client's copies of the reachability watcher and of the shared device identifier.
// Both are the families' code with this client's names: the watcher keeps the family's queue label
// and notification, the identifier shares the family's records so every copy agrees on one value.
#include <memory>
#include <string>

#include "foundation/device/SharedUDID.h"
#include "foundation/net/Reachability.h"

class VMA4QCReachability {
 public:
  static ReachabilityProfile profile() { return ReachabilityProfile::standard(); }
  // A watcher of the default route; each caller gets its own.
  static std::shared_ptr<Reachability> reachabilityForInternetConnection() {
    return Reachability::reachabilityForInternetConnection(profile());
  }
  static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& host) {
    return Reachability::reachabilityWithHostname(host, profile());
  }
};

class VMA4QCSharedUDID {
 public:
  // Fresh identifiers digest a new UUID's text; the names are the family's.
  static SharedUDIDProfile profile();
  // This copy remembers its own answer; the stored records are shared.
  static SharedUDIDParticipant& participant();

  static std::string value() { return participant().value(); }
  static std::string valueWithError(os::Error* error) { return participant().valueWithError(error); }
  static void setOptOut(bool optOut) { participant().setOptOut(optOut); }
};
