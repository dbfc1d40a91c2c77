#pragma once
// Generic-password items of the simulated device, keyed by service, account and access group, with
// the platform's status codes. One owner-only property-list file in the device folder, rewritten
// atomically under a lock. A file that cannot be opened or read at a call (no descriptor left, an
// I/O error) fails that call alone with kKeychainIOError and is left as it is.
#include <memory>
#include <string>

#include "os/core/Data.h"

namespace os {

class Sandbox;

enum KeychainStatus : long {
  kKeychainSuccess = 0,
  kKeychainParamError = -50,
  kKeychainIOError = -36,
  kKeychainDuplicateItem = -25299,
  kKeychainItemNotFound = -25300,
};

// Accessibility classes 0 to 5 (when unlocked, after first unlock, always, and the same three
// limited to this device).
inline constexpr int kKeychainAccessibilityCount = 6;

// An empty service or access group matches any in a search; an item's identity is all three.
struct KeychainQuery {
  std::string service;
  std::string account;
  std::string accessGroup;
};

class Keychain {
 public:
  // Every application on the device writes the one file: past this size it is not read (it counts
  // as unreadable and is set aside), and a change that would make it larger fails as an I/O error.
  static constexpr std::uint64_t kMaxFileBytes = 16ull << 20;

  explicit Keychain(std::string deviceDirectory);
  // The keychain of the current sandbox's device.
  static std::shared_ptr<Keychain> defaultKeychain();

  // The data of the first matching item (out may be null to test for one).
  long copyData(const KeychainQuery& query, Data* out) const;
  long add(const KeychainQuery& query, const Data& data, int accessibility);
  // Every matching item takes the data and the accessibility class.
  long update(const KeychainQuery& query, const Data& data, int accessibility);
  // Every matching item goes.
  long remove(const KeychainQuery& query);

  const std::string& path() const { return path_; }

 private:
  std::string folder_, path_;
};

}  // namespace os
