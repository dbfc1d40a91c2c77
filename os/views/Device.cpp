#include "os/views/Device.h"

#include "os/core/String.h"
#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Screen.h"

namespace os {

Device& Device::current() {
  static Device device;
  return device;
}

DeviceProfile Device::setProfile(DeviceProfile profile) {
  DeviceProfile previous = profile_;
  profile_ = std::move(profile);
  return previous;
}

double Device::systemVersionNumber() const { return doubleValue(profile_.systemVersion); }

std::string Device::identifierForVendor() {
  if (profile_.identifierForVendor.empty()) profile_.identifierForVendor = uuidString();
  return profile_.identifierForVendor;
}

Data Device::deviceToken() {
  if (profile_.deviceToken.empty()) {
    // Two digests of the vendor identifier make a stable 32-byte token for this device.
    std::string id = identifierForVendor();
    Data a = sha1(Data(id.begin(), id.end()));
    std::string salted = id + ":token";
    Data b = sha1(Data(salted.begin(), salted.end()));
    Data token(a.begin(), a.end());
    token.insert(token.end(), b.begin(), b.begin() + 12);
    profile_.deviceToken = token;
  }
  return profile_.deviceToken;
}

void Device::setOrientation(DeviceOrientation o) {
  if (o == orientation_) return;
  orientation_ = o;
  NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification, this);
}

Screen& Screen::main() {
  static Screen screen;
  return screen;
}

Rect Screen::bounds() const {
  const auto& p = Device::current().profile();
  return Rect(0, 0, p.screenSize.width, p.screenSize.height);
}

double Screen::scale() const { return Device::current().profile().screenScale; }

Rect Screen::applicationFrame() const {
  Rect b = bounds();
  if (Application::isStatusBarHiddenNow()) return b;
  return Rect(0, kStatusBarHeight, b.size.width, b.size.height - kStatusBarHeight);
}

}  // namespace os
