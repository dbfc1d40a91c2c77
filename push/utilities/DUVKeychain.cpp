#include "push/utilities/DUVKeychain.h"

#include "os/core/String.h"
#include "os/store/Keychain.h"
#include "os/store/PropertyList.h"
#include "push/utilities/DUVLogger.h"

namespace {
void logError(const std::string& what, const std::string& key, const std::string& detail) {
  std::string text = "DUVKeychain failed to " + what + " data for key '" + key + "', error: " + detail;
  // Shown on the console too: a keychain that refuses the record loses the identity on restart.
  DUVClassLogger("DUVKeychain")->logMessage(text, text + ",info:[TRACING] [FILE: DUVKeychain.cpp]", &DUVLevel::error());
}
}  // namespace

DUVKeychain::DUVKeychain(std::string service, std::string accessGroup, int accessibility,
                         std::shared_ptr<os::Keychain> keychain)
    : service_(std::move(service)), accessGroup_(std::move(accessGroup)), accessibility_(accessibility),
      keychain_(std::move(keychain)) {}

std::shared_ptr<os::Keychain> DUVKeychain::keychain() const {
  return keychain_ ? keychain_ : os::Keychain::defaultKeychain();
}

std::optional<os::Data> DUVKeychain::dataForKey(const std::string& key, long* answer) const {
  os::Data data;
  long status = keychain()->copyData({service_, key, accessGroup_}, &data);
  if (answer) *answer = status;
  if (status == os::kKeychainSuccess) return data;
  // A missing item is the ordinary first start, not a failure.
  if (status != os::kKeychainItemNotFound) logError("retrieve", key, std::to_string(status));
  return std::nullopt;
}

bool DUVKeychain::setObject(const os::Value& object, const std::string& key) {
  std::optional<os::Data> data;
  if (const std::string* text = object.string()) {
    os::Data bytes = os::dataFromString(*text);
    data = os::PropertyList::isBinary(bytes) && os::PropertyList::read(bytes)
               ? os::PropertyList::write(object, os::PropertyListFormat::Binary)
               : std::optional<os::Data>(bytes);
  } else if (!object.isNull()) {
    data = os::PropertyList::write(object, os::PropertyListFormat::Binary);
  }
  os::KeychainQuery query{service_, key, accessGroup_};
  auto store = keychain();
  if (!data) {
    long status = store->remove(query);
    if (status != os::kKeychainSuccess && status != os::kKeychainItemNotFound) {
      logError("delete", key, std::to_string(status));
      return false;
    }
    return true;
  }
  long status = store->copyData(query, nullptr) == os::kKeychainSuccess ? store->update(query, *data, accessibility_)
                                                                        : store->add(query, *data, accessibility_);
  if (status != os::kKeychainSuccess) {
    logError("store", key, std::to_string(status));
    return false;
  }
  return true;
}

std::optional<os::Value> DUVKeychain::objectForKey(const std::string& key, long* status) const {
  auto data = dataForKey(key, status);
  if (!data) return std::nullopt;
  os::PropertyListFormat format{};
  if (auto value = os::PropertyList::read(*data, &format)) {
    if (value->dictionary() && value->dictionary()->contains("$archiver")) {
      logError("decode", key, "keyed archive refused");
      return std::nullopt;
    }
    if (format == os::PropertyListFormat::Binary) return value;
  }
  std::string text = os::stringFromData(*data);
  if (os::isValidUTF8(text)) return os::Value(text);
  logError("decode", key, "neither a property list nor UTF-8 text");
  return std::nullopt;
}
