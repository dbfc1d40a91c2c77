#pragma once
// A small generic-password store: values by account name under one service, written as binary
// property lists (a string as its UTF-8 bytes unless those bytes could be read back as a property
// list).
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"

namespace os {
class Keychain;
}

class DUVKeychain {
 public:
  // Accessibility 0 to 5; the identity record uses 4 (after first unlock, this device only).
  DUVKeychain(std::string service, std::string accessGroup, int accessibility,
              std::shared_ptr<os::Keychain> keychain = nullptr);

  // `status` (when given) receives the store's answer: a missing item is
  // os::kKeychainItemNotFound; anything else but success means the item could not be read now.
  std::optional<os::Data> dataForKey(const std::string& key, long* status = nullptr) const;
  // A null value (or one that cannot be written as a property list) deletes the item.
  bool setObject(const os::Value& object, const std::string& key);
  bool removeObjectForKey(const std::string& key) { return setObject(os::Value(), key); }
  // A binary property list, else UTF-8 text; nothing (with an error line) for a keyed archive
  // or data that is neither.
  std::optional<os::Value> objectForKey(const std::string& key, long* status = nullptr) const;

  const std::string& service() const { return service_; }
  const std::string& accessGroup() const { return accessGroup_; }
  int accessibility() const { return accessibility_; }

 private:
  std::shared_ptr<os::Keychain> keychain() const;
  const std::string service_, accessGroup_;
  const int accessibility_;
  std::shared_ptr<os::Keychain> keychain_;
};
