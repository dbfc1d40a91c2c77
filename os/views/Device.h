#pragma once
// The device the program believes it runs on: a profile with phone-like defaults that tests
// override (model, machine, system, screen, identifiers, network facts, orientation).
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/graphics/Geometry.h"

namespace os {

enum class DeviceOrientation { Unknown = 0, Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4, FaceUp = 5, FaceDown = 6 };
enum class UserInterfaceIdiom { Phone = 0, Pad = 1 };

inline constexpr const char* kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChangeNotification";

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
  std::string identifierForVendor;
  std::string advertisingIdentifier;  // "" when the device offers none
  bool advertisingTrackingEnabled = true;
  // Network facts ("" when unknown, as a device without them answers).
  std::string carrierName;
  std::string macAddress;
  std::string wifiSSID;
  std::string wifiBSSID;
  // Remote notifications: the token a registration yields, or the failure it meets.
  bool remoteNotificationsAvailable = true;
  Data deviceToken;  // 32 bytes made from the vendor identifier when empty
  bool multitaskingSupported = true;
};

class Device {
 public:
  static Device& current();

  const DeviceProfile& profile() const { return profile_; }
  // Replaces the profile (tests); returns the previous one.
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

  DeviceOrientation orientation() const { return orientation_; }
  // Posts kDeviceOrientationDidChangeNotification when it changes.
  void setOrientation(DeviceOrientation orientation);
  void beginGeneratingDeviceOrientationNotifications() { ++generating_; }
  void endGeneratingDeviceOrientationNotifications() { if (generating_ > 0) --generating_; }

 private:
  DeviceProfile profile_;
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
