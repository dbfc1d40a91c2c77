#include "os/views/Device.h"

#include <algorithm>

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
  std::lock_guard lock(frameworksMutex_);
  DeviceProfile previous = profile_;
  profile_ = std::move(profile);
  loadedFrameworks_.clear();
  locationSource_ = nullptr;  // a fake route belongs to the profile it was set under
  return previous;
}

std::vector<std::string> DeviceProfile::defaultFrameworks() {
  static const char* const kNames[] = {
      "AdSupport",   "AudioToolbox", "CFNetwork",  "CoreFoundation", "CoreGraphics", "CoreLocation",
      "CoreTelephony", "Foundation", "ImageIO",    "MessageUI",      "MobileCoreServices", "QuartzCore",
      "Security",    "Social",       "SystemConfiguration", "UIKit",
  };
  std::vector<std::string> paths;
  for (const char* name : kNames) paths.push_back(std::string(kSystemFrameworksDirectory) + "/" + name + ".framework");
  return paths;
}

std::optional<Location> Device::location() const {
  if (locationSource_) return locationSource_();
  return profile_.location;
}

void Device::setLocationSource(std::function<std::optional<Location>()> source) { locationSource_ = std::move(source); }

namespace {
// The bundle a path names: everything up to and including its first ".framework" component, without a
// trailing slash; "" when the path names no framework bundle.
std::string frameworkBundlePath(const std::string& path) {
  static const std::string kSuffix = ".framework";
  std::size_t at = 0;
  while ((at = path.find(kSuffix, at)) != std::string::npos) {
    std::size_t end = at + kSuffix.size();
    if (end == path.size() || path[end] == '/') return path.substr(0, end);
    at = end;
  }
  return {};
}
bool contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}
}  // namespace

bool Device::hasFramework(const std::string& path) const {
  std::string bundle = frameworkBundlePath(path);
  std::lock_guard lock(frameworksMutex_);
  return !bundle.empty() && contains(profile_.frameworks, bundle);
}

bool Device::loadFramework(const std::string& path) {
  std::string bundle = frameworkBundlePath(path);
  std::lock_guard lock(frameworksMutex_);
  if (bundle.empty() || !contains(profile_.frameworks, bundle)) return false;
  if (!contains(profile_.linkedFrameworks, bundle) && !contains(loadedFrameworks_, bundle))
    loadedFrameworks_.push_back(bundle);
  return true;
}

std::vector<std::string> Device::loadedFrameworks() const {
  std::lock_guard lock(frameworksMutex_);
  std::vector<std::string> out;
  for (const auto& f : profile_.linkedFrameworks)
    if (contains(profile_.frameworks, f)) out.push_back(f);
  out.insert(out.end(), loadedFrameworks_.begin(), loadedFrameworks_.end());
  return out;
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
