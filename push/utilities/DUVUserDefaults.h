#pragma once
// The push client's persisted identity, one record per application in a keychain item bound to
// this device: the registration's uid, password and registration id, the device token the server
// last confirmed, the addresses learned from the address lookup and the lookup host index. An
// older release kept the record in a property-list file; that file is taken over once, and its
// identity kept only if the application's device token matches it within a second.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "os/core/Value.h"
#include "push/utilities/DUVKeychain.h"

namespace os {
class NotificationCenter;
class Timer;
}  // namespace os

inline constexpr const char* kDUVKeychainUserDefaultsKey = "APKeychainUserDefaultsKey";
inline constexpr const char* kDUVUserDefaultsVerifiedNotification = "UserDefaultsVerifiedNotification";
inline constexpr const char* kDUVLegacyFolderName = "4C90E90E-C569-4396-AB2D-AC33BF8A1E44";

class DUVUserDefaults : public std::enable_shared_from_this<DUVUserDefaults> {
 public:
  // Loads the record on the calling thread (the client thread, whose run loop takes the delayed
  // check) and verifies it at once unless it came from the legacy file. The verified notification
  // goes to `center`, which must outlive the store.
  static std::shared_ptr<DUVUserDefaults> create(const std::string& bundleIdentifier, const std::string& appkey,
                                                 os::NotificationCenter& center,
                                                 std::shared_ptr<os::Keychain> keychain = nullptr);
  ~DUVUserDefaults();

  // The device token of this run. While the legacy record waits for its check, a token other
  // than the uploaded one drops the identity.
  void setCurrentDeviceToken(const std::optional<std::string>& token);
  void setUploadedDeviceToken(const std::optional<std::string>& token);
  void setUid(std::uint32_t uid, const std::optional<std::string>& password,
              const std::optional<std::string>& registrationID);
  void setDefaultConAddress(const std::optional<std::string>& address);
  std::optional<std::string> defaultConAddress() const { return text("APDefaultConnectionAddress"); }
  void setBackupReportAddress(const std::optional<std::string>& address);
  std::optional<std::string> backupReportAddress() const { return text("kAPBackupReportAddress"); }
  void setAttributeReportAddress(const std::optional<std::string>& address);
  std::optional<std::string> attributeReportAddress() const { return text("kAPAttributeReportAddress"); }
  void setSisHostIndex(std::uint32_t index);
  // Writes the whole record. A record whose item could not be read at start is merged with the
  // item first; false, writing nothing, while the item still cannot be read.
  bool synchronize();

  const std::string& appkey() const { return appkey_; }
  const std::optional<std::string>& currentDeviceToken() const { return currentDeviceToken_; }
  std::optional<std::string> uploadedDeviceToken() const { return text("kUploadedDeviceTokenKey"); }
  // The device id made at this start-up: "iPhone" and nine pairs of a zero and a hex digit.
  const std::string& sharedUdid() const { return sharedUdid_; }
  std::uint32_t uid() const { return uid_; }
  const std::optional<std::string>& password() const { return password_; }
  const std::optional<std::string>& registrationID() const { return registrationID_; }
  bool verified() const { return verified_; }
  std::uint32_t sisHostIndex() const { return sisHostIndex_; }
  const os::Dictionary& record() const { return infoDictionary_; }

  static std::string getRandomUDIDString();
  // Drops uid, password and uploaded token; the rest of the record stays.
  static void invalidate(os::Dictionary& record);

  struct PrivateTag {};
  DUVUserDefaults(PrivateTag, std::string bundleIdentifier, std::string appkey, os::NotificationCenter& center,
                  std::shared_ptr<os::Keychain> keychain);

 private:
  void load(const std::string& bundleIdentifier);
  static bool transFromOldUserDefaults(os::Dictionary& record);
  void delayVerifyUserDefaults();
  void verifyUserDefaultsTimeout();
  void verifyUserDefaults();
  void setOrRemove(const std::string& key, const std::optional<std::string>& value);
  // A read that failed for another reason than a missing item (no descriptor left, an I/O error).
  static bool unreadable(long status);
  // The item that could not be read at start, read now and taken under this run's changes; false
  // while it still cannot be read. Without an item, the legacy file a start takes over is read
  // then too, when the start could not.
  bool readStoredRecord();
  // The legacy file's record: nothing when there is none or no read will ever get it, or when it
  // is there and cannot be read now (legacyUnread_ set).
  std::optional<os::Dictionary> readLegacy();
  std::optional<std::string> text(const char* key) const;

  os::Dictionary infoDictionary_;
  DUVKeychain defaultKeychain_;
  os::NotificationCenter& center_;
  std::weak_ptr<os::Timer> delayVerifyUserDefaultsTimer_;
  bool isDelayedVerify_ = false;
  bool verified_ = false;
  std::string appkey_;
  std::optional<std::string> currentDeviceToken_;
  std::string sharedUdid_;
  std::uint32_t uid_ = 0;
  std::optional<std::string> password_;
  std::optional<std::string> registrationID_;
  std::uint32_t sisHostIndex_ = 0;
  std::optional<std::string> legacyPath_;
  // The keychain could not be read at start: the record here may lack a stored identity, so it is
  // read again before it replaces the item, and only the keys set meanwhile go over it.
  bool unread_ = false;
  std::set<std::string> changedWhileUnread_;
  // The start did not get to the legacy file (the keychain unread) or could not read it: it is
  // taken over, if there, before the first write.
  bool legacyUnread_ = false;
  std::string bundleIdentifier_;
};
