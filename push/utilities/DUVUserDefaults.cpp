#include "push/utilities/DUVUserDefaults.h"

#include "os/crypto/Random.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Timer.h"
#include "os/store/FileManager.h"
#include "os/store/Keychain.h"
#include "os/store/PropertyList.h"
#include "push/utilities/DUVUtilities.h"

namespace {
constexpr const char* kAppKey = "APP_KEY";
constexpr const char* kUID = "kUIDKey";
constexpr const char* kPassword = "kPasswordKey";
constexpr const char* kRegistrationId = "kRegistrationId";
constexpr const char* kUploadedDeviceToken = "kUploadedDeviceTokenKey";
constexpr const char* kSisHostIndex = "kSisHostIndexKey";
constexpr const char* kDeviceId = "APDeviceId";

std::optional<std::string> stringAt(const os::Dictionary& record, const char* key) {
  if (const std::string* text = record[key].string()) return *text;
  return std::nullopt;
}

// Numbers read from outside the client are type-checked: anything but a number counts as 0.
std::uint32_t u32At(const os::Dictionary& record, const char* key) {
  const os::Value& value = record[key];
  return value.isNumber() ? static_cast<std::uint32_t>(value.unsignedValue()) : 0;
}
}  // namespace

std::shared_ptr<DUVUserDefaults> DUVUserDefaults::create(const std::string& bundleIdentifier, const std::string& appkey,
                                                         os::NotificationCenter& center,
                                                         std::shared_ptr<os::Keychain> keychain) {
  auto store = std::make_shared<DUVUserDefaults>(PrivateTag{}, bundleIdentifier, appkey, center, std::move(keychain));
  store->load(bundleIdentifier);
  return store;
}

DUVUserDefaults::DUVUserDefaults(PrivateTag, std::string bundleIdentifier, std::string appkey,
                                 os::NotificationCenter& center, std::shared_ptr<os::Keychain> keychain)
    : defaultKeychain_(std::move(bundleIdentifier), "", 4, std::move(keychain)),
      center_(center),
      appkey_(std::move(appkey)),
      sharedUdid_(getRandomUDIDString()) {}

DUVUserDefaults::~DUVUserDefaults() {
  if (auto timer = delayVerifyUserDefaultsTimer_.lock()) timer->invalidate();
}

std::string DUVUserDefaults::getRandomUDIDString() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string udid = "iPhone";
  for (int i = 0; i < 9; ++i) {
    udid += '0';
    udid += kHex[os::randomUniform(16)];
  }
  return udid;
}

void DUVUserDefaults::invalidate(os::Dictionary& record) {
  record.remove(kUID);
  record.remove(kPassword);
  record.remove(kUploadedDeviceToken);
}

bool DUVUserDefaults::transFromOldUserDefaults(os::Dictionary& record) {
  if (!record[kAppKey].string()) {
    const std::string* older = record["kAPConfigKey"][kAppKey].string();
    if (!older) return false;
    record.set(kAppKey, os::Value(*older));
    record.remove("kAPConfigKey");
  }
  if (!record[kUploadedDeviceToken].string()) {
    if (const std::string* token = record["kDeviceTokenGroupKey"][kUploadedDeviceToken].string()) {
      record.set(kUploadedDeviceToken, os::Value(*token));
      record.remove("kDeviceTokenGroupKey");
    }
  }
  return true;
}

std::optional<os::Dictionary> DUVUserDefaults::readLegacy() {
  legacyUnread_ = false;
  auto path = APUrlForUserDefaultFile(bundleIdentifier_);
  if (!path) return std::nullopt;
  os::Error error;
  auto bytes = os::FileManager::defaultManager().contentsAtPath(*path, &error);
  if (!bytes) {
    // Only a file a later read may get is waited for: one refused for good holds nothing to take.
    legacyUnread_ = os::FileManager::mayReadLater(error) && os::FileManager::defaultManager().fileExistsAtPath(*path);
    return std::nullopt;
  }
  auto legacy = os::PropertyList::read(*bytes);
  if (!legacy || !legacy->dictionary()) return std::nullopt;
  legacyPath_ = *path;
  os::Dictionary record = *legacy->dictionary();
  transFromOldUserDefaults(record);
  return record;
}

void DUVUserDefaults::load(const std::string& bundleIdentifier) {
  bundleIdentifier_ = bundleIdentifier;
  std::optional<os::Dictionary> record;
  long status = os::kKeychainSuccess;
  if (auto stored = defaultKeychain_.objectForKey(kDUVKeychainUserDefaultsKey, &status); stored && stored->dictionary()) {
    record = *stored->dictionary();
  } else if (unreadable(status)) {
    // The item may hold an identity this start cannot see: it is read again before any write,
    // and the legacy file, which only a first start takes over, then too when there is no item.
    unread_ = true;
    legacyUnread_ = true;
  } else if (auto legacy = readLegacy()) {
    record = std::move(legacy);
    isDelayedVerify_ = true;
  } else if (legacyUnread_) {
    // There but not readable now: its identity is taken over at the first write, not lost to it.
    unread_ = true;
  }
  if (record && record->operator[](kAppKey) != os::Value(appkey_)) {
    invalidate(*record);
    record->set(kAppKey, os::Value(appkey_));
    isDelayedVerify_ = false;
  }
  infoDictionary_ = record ? std::move(*record) : os::Dictionary{{kAppKey, os::Value(appkey_)}};
  if (isDelayedVerify_)
    delayVerifyUserDefaults();
  else
    verifyUserDefaults();
}

void DUVUserDefaults::delayVerifyUserDefaults() {
  std::weak_ptr<DUVUserDefaults> weak = weak_from_this();
  delayVerifyUserDefaultsTimer_ = os::Timer::scheduled(1.0, false, [weak](os::Timer&) {
    if (auto self = weak.lock()) self->verifyUserDefaultsTimeout();
  });
}

void DUVUserDefaults::verifyUserDefaultsTimeout() {
  invalidate(infoDictionary_);
  verifyUserDefaults();
}

void DUVUserDefaults::setCurrentDeviceToken(const std::optional<std::string>& token) {
  currentDeviceToken_ = token;
  if (isDelayedVerify_ && os::Value(token ? os::Value(*token) : os::Value()) != infoDictionary_[kUploadedDeviceToken])
    invalidate(infoDictionary_);
  verifyUserDefaults();
}

void DUVUserDefaults::verifyUserDefaults() {
  if (verified_) return;
  verified_ = true;
  bool addedDeviceId = false;
  if (!infoDictionary_.contains(kDeviceId)) {
    infoDictionary_.set(kDeviceId, os::Value(sharedUdid_));
    addedDeviceId = true;
  }
  uid_ = u32At(infoDictionary_, kUID);
  password_ = stringAt(infoDictionary_, kPassword);
  sisHostIndex_ = u32At(infoDictionary_, kSisHostIndex);
  registrationID_ = stringAt(infoDictionary_, kRegistrationId);
  bool wasDelayed = isDelayedVerify_;
  if (isDelayedVerify_) {
    if (auto timer = delayVerifyUserDefaultsTimer_.lock()) timer->invalidate();
    isDelayedVerify_ = false;
  }
  bool written = (wasDelayed || addedDeviceId) && synchronize();
  // Once the keychain holds the record, the legacy file has served its purpose: a later start
  // must not take an old identity over again.
  if (written && legacyPath_) {
    os::FileManager::defaultManager().removeItemAtPath(*legacyPath_);
    legacyPath_.reset();
  }
  center_.post(kDUVUserDefaultsVerifiedNotification);
}

void DUVUserDefaults::setUploadedDeviceToken(const std::optional<std::string>& token) {
  if (token && stringAt(infoDictionary_, kUploadedDeviceToken) == token) return;
  setOrRemove(kUploadedDeviceToken, token);
  synchronize();
}

void DUVUserDefaults::setUid(std::uint32_t uid, const std::optional<std::string>& password,
                             const std::optional<std::string>& registrationID) {
  if (uid == uid_ && ((!password && !password_) || (password == password_ && registrationID == registrationID_)))
    return;
  uid_ = uid;
  password_ = password;
  registrationID_ = registrationID;
  if (unread_) changedWhileUnread_.insert(kUID);
  infoDictionary_.set(kUID, os::Value::unsignedNumber('I', uid));
  setOrRemove(kPassword, password);
  setOrRemove(kRegistrationId, registrationID);
  synchronize();
}

void DUVUserDefaults::setDefaultConAddress(const std::optional<std::string>& address) {
  setOrRemove("APDefaultConnectionAddress", address);
  synchronize();
}

void DUVUserDefaults::setBackupReportAddress(const std::optional<std::string>& address) {
  setOrRemove("kAPBackupReportAddress", address);
  synchronize();
}

void DUVUserDefaults::setAttributeReportAddress(const std::optional<std::string>& address) {
  setOrRemove("kAPAttributeReportAddress", address);
  synchronize();
}

void DUVUserDefaults::setSisHostIndex(std::uint32_t index) {
  if (index == sisHostIndex_) return;
  sisHostIndex_ = index;
  if (unread_) changedWhileUnread_.insert(kSisHostIndex);
  infoDictionary_.set(kSisHostIndex, os::Value::unsignedNumber('I', index));
  synchronize();
}

bool DUVUserDefaults::synchronize() {
  if (unread_ && !readStoredRecord()) return false;
  const bool written = defaultKeychain_.setObject(os::Value(infoDictionary_), kDUVKeychainUserDefaultsKey);
  // A legacy file taken over after the start goes once the item holds its record.
  if (written && legacyPath_ && verified_ && !isDelayedVerify_) {
    os::FileManager::defaultManager().removeItemAtPath(*legacyPath_);
    legacyPath_.reset();
  }
  return written;
}

bool DUVUserDefaults::unreadable(long status) {
  return status != os::kKeychainSuccess && status != os::kKeychainItemNotFound;
}

bool DUVUserDefaults::readStoredRecord() {
  long status = os::kKeychainSuccess;
  auto stored = defaultKeychain_.objectForKey(kDUVKeychainUserDefaultsKey, &status);
  // Still unknown: nothing is written over it.
  if (unreadable(status)) return false;
  std::optional<os::Dictionary> found;
  if (stored && stored->dictionary()) {
    found = *stored->dictionary();
  } else if (legacyUnread_) {
    found = readLegacy();
    if (legacyUnread_) return false;
    // The token check a start makes in its first second: by now the token is known, or it is
    // not coming, and an identity from another device's backup goes.
    if (found && (*found)[kUploadedDeviceToken] !=
                     (currentDeviceToken_ ? os::Value(*currentDeviceToken_) : os::Value()))
      invalidate(*found);
  }
  unread_ = false;
  legacyUnread_ = false;
  if (found) {
    // What this run set stands; the rest comes back from the item, under the rules of a start.
    os::Dictionary record = std::move(*found);
    if (record[kAppKey] != os::Value(appkey_)) {
      invalidate(record);
      record.set(kAppKey, os::Value(appkey_));
    }
    for (const auto& key : changedWhileUnread_) {
      if (const os::Value* value = infoDictionary_.find(key))
        record.set(key, *value);
      else
        record.remove(key);
    }
    if (!record.contains(kDeviceId)) record.set(kDeviceId, os::Value(sharedUdid_));
    infoDictionary_ = std::move(record);
    if (!changedWhileUnread_.contains(kUID)) {
      uid_ = u32At(infoDictionary_, kUID);
      password_ = stringAt(infoDictionary_, kPassword);
      registrationID_ = stringAt(infoDictionary_, kRegistrationId);
    }
    if (!changedWhileUnread_.contains(kSisHostIndex)) sisHostIndex_ = u32At(infoDictionary_, kSisHostIndex);
  }
  changedWhileUnread_.clear();
  return true;
}

void DUVUserDefaults::setOrRemove(const std::string& key, const std::optional<std::string>& value) {
  if (unread_) changedWhileUnread_.insert(key);
  if (value)
    infoDictionary_.set(key, os::Value(*value));
  else
    infoDictionary_.remove(key);
}

std::optional<std::string> DUVUserDefaults::text(const char* key) const { return stringAt(infoDictionary_, key); }
