#pragma once
// The device the program believes it runs on: a profile with phone-like defaults that tests
// override (model, machine, system, screen, identifiers, network facts, location, the system
// frameworks present, orientation).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/graphics/Geometry.h"

namespace os {

enum class DeviceOrientation { Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4, FaceUp = 5, FaceDown = 6 };
enum class UserInterfaceIdiom { Phone = 0, Pad = 1 };

inline constexpr const char* kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChangeNotification";

// A position fix as the location services report it. Accuracies in metres; negative means unknown.
struct Location {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  double horizontalAccuracy = -1;
  double verticalAccuracy = -1;
  bool operator==(const Location&) const = default;
};

// Where the device's frameworks live.
inline constexpr const char* kSystemFrameworksDirectory = "/System/Library/Frameworks";

// Every member has an initializer, so a profile names only the fields it changes
// ({.machine = "..."}) without a missing-initializer warning.
struct DeviceProfile {
  std::string name = "Phone";
  std::string model = "Phone";
  std::string localizedModel = "Phone";
  std::string machine = "Phone5,2";   // the hardware model identifier
  std::string systemName = "PhoneOS";
  std::string systemVersion = "6.1";
  UserInterfaceIdiom idiom = UserInterfaceIdiom::Phone;
  // Screen, in points, and pixels per point.
  Size screenSize{320, 568};
  double screenScale = 2;
  // Identifiers; an empty vendor identifier is made (a random UUID) on first use.
  std::string identifierForVendor{};
  std::string advertisingIdentifier{};  // "" when the device offers none
  bool advertisingTrackingEnabled = true;
  // Network facts ("" when unknown, as a device without them answers). The carrier is the SIM's
  // provider: its name and its mobile country and network codes ("460" and "00" for a mainland
  // operator); all three "" without a SIM.
  std::string carrierName{};
  std::string mobileCountryCode{};
  std::string mobileNetworkCode{};
  std::string macAddress{};
  std::string wifiSSID{};
  std::string wifiBSSID{};
  // The zone dates are shown in, by name: China time, as on the phones this reader was made for;
  // "" keeps the host's own zone.
  std::string timeZone = "Asia/Shanghai";
  // Physical memory in bytes (1 GiB, as on the phone the defaults describe); caches size
  // themselves from it.
  std::uint64_t physicalMemory = std::uint64_t{1} << 30;
  // Remote notifications: the token a registration yields, or the failure it meets.
  bool remoteNotificationsAvailable = true;
  Data deviceToken{};  // 32 bytes made from the vendor identifier when empty
  // The system's compose screens: a mail account to send from, text messages and attachments
  // with them, and the social services with an account on the device (by service type).
  bool canSendMail = true;
  bool canSendText = true;
  bool canSendMessageAttachments = true;
  std::vector<std::string> socialAccounts{};
  // The store service the system's store sheet loads products from (its base URL); "" when the
  // device reaches none.
  std::string storeURL{};
  // The choice the user makes when asked to allow notifications: the types granted (a mask of
  // RemoteNotificationType) out of those asked for.
  unsigned userNotificationTypesAllowed = 7;
  bool multitaskingSupported = true;
  // The position the location services report; none until a fix (or a source, below) is set.
  std::optional<Location> location{};
  // The framework bundles the system offers, by full path ("/System/Library/Frameworks/X.framework"),
  // and those the application links, loaded before it starts.
  std::vector<std::string> frameworks = defaultFrameworks();
  std::vector<std::string> linkedFrameworks = {"/System/Library/Frameworks/Foundation.framework",
                                               "/System/Library/Frameworks/UIKit.framework",
                                               "/System/Library/Frameworks/CoreGraphics.framework"};

  static std::vector<std::string> defaultFrameworks();
};

class Device {
 public:
  static Device& current();

  const DeviceProfile& profile() const { return profile_; }
  // Replaces the profile (tests), dropping the loaded frameworks and any location source; returns
  // the previous one.
  DeviceProfile setProfile(DeviceProfile profile);

  const std::string& name() const { return profile_.name; }
  const std::string& model() const { return profile_.model; }
  const std::string& localizedModel() const { return profile_.localizedModel; }
  const std::string& machine() const { return profile_.machine; }
  const std::string& systemName() const { return profile_.systemName; }
  const std::string& systemVersion() const { return profile_.systemVersion; }
  // The system version's leading number (6 for "6.1").
  double systemVersionNumber() const;
  UserInterfaceIdiom userInterfaceIdiom() const { return profile_.idiom; }
  bool isMultitaskingSupported() const { return profile_.multitaskingSupported; }
  std::string identifierForVendor();
  Data deviceToken();

  // The SIM's provider; false when the device has none (the carrier facts are then "").
  bool hasCarrier() const { return !profile_.carrierName.empty() || !profile_.mobileCountryCode.empty(); }
  const std::string& carrierName() const { return profile_.carrierName; }
  const std::string& mobileCountryCode() const { return profile_.mobileCountryCode; }
  const std::string& mobileNetworkCode() const { return profile_.mobileNetworkCode; }

  // The current position: the source's answer when one is set, else the profile's fix.
  std::optional<Location> location() const;
  // Replaces where positions come from (a fake route in tests); an empty function restores the
  // profile's fix. Like the profile, read and set on the main thread.
  void setLocationSource(std::function<std::optional<Location>()> source);

  // Framework bundles by path. A path inside a bundle (".../X.framework/X") names that bundle.
  // Loading answers whether the bundle is on the device; a loaded bundle joins loadedFrameworks().
  // Safe from any thread: optional frameworks load on a background queue while the application starts.
  bool hasFramework(const std::string& path) const;
  bool loadFramework(const std::string& path);
  // The linked frameworks present, then the ones loaded since, in load order.
  std::vector<std::string> loadedFrameworks() const;

  DeviceOrientation orientation() const { return orientation_; }
  // Posts kDeviceOrientationDidChangeNotification when it changes.
  void setOrientation(DeviceOrientation orientation);
  void beginGeneratingDeviceOrientationNotifications() { ++generating_; }
  void endGeneratingDeviceOrientationNotifications() { if (generating_ > 0) --generating_; }

 private:
  DeviceProfile profile_;
  std::function<std::optional<Location>()> locationSource_;
  mutable std::mutex frameworksMutex_;
  std::vector<std::string> loadedFrameworks_;  // loaded by path since the profile was set
  DeviceOrientation orientation_ = DeviceOrientation::Portrait;
  int generating_ = 0;
};

// Installs a profile for a scope (tests) and restores the previous one.
class DeviceProfileScope {
 public:
  explicit DeviceProfileScope(DeviceProfile profile) : previous_(Device::current().setProfile(std::move(profile))) {}
  ~DeviceProfileScope() { Device::current().setProfile(previous_); }
  DeviceProfileScope(const DeviceProfileScope&) = delete;
  DeviceProfileScope& operator=(const DeviceProfileScope&) = delete;

 private:
  DeviceProfile previous_;
};

}  // namespace os
