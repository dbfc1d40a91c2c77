#include "news/common/DeviceExtensions.h"

#include <mutex>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/net/NetworkReachability.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/views/Device.h"

namespace DeviceExtensions {
namespace {

// The package manager that jailbroken devices carry, relative to the device's root folder.
constexpr const char* kJailbreakMarkPath = "/Applications/Cydia.app";

std::mutex& sourceMutex() {
  static std::mutex m;
  return m;
}
std::function<std::string()>& sharedUDIDSource() {
  static std::function<std::string()> source;
  return source;
}

std::optional<os::FileSystemAttributes> homeFileSystem() {
  return os::FileManager::defaultManager().attributesOfFileSystemForPath(os::Sandbox::current()->homeDirectory());
}

}  // namespace

std::string deviceName() { return os::percentEscape(os::Device::current().name(), os::kURLLegalCharacters); }

std::string macAddress() { return os::Device::current().profile().macAddress; }

std::string idfaString() { return os::Device::current().profile().advertisingIdentifier; }

std::string idfvString() { return os::Device::current().identifierForVendor(); }

std::string sharedUDID() {
  std::function<std::string()> source;
  {
    std::lock_guard<std::mutex> lock(sourceMutex());
    source = sharedUDIDSource();
  }
  return source ? source() : std::string();
}

void setSharedUDIDSource(std::function<std::string()> source) {
  std::lock_guard<std::mutex> lock(sourceMutex());
  sharedUDIDSource() = std::move(source);
}

std::optional<std::uint64_t> totalDiskSpace() {
  auto fs = homeFileSystem();
  if (!fs) return std::nullopt;
  return fs->totalSize;
}

std::optional<std::uint64_t> freeDiskSpace() {
  auto fs = homeFileSystem();
  if (!fs) return std::nullopt;
  return fs->freeSize;
}

std::string wifiSSID() { return os::Device::current().profile().wifiSSID; }

std::string wifiBSSID() {
  std::string bssid = os::Device::current().profile().wifiBSSID;
  os::log(bssid);
  return bssid;
}

int netStatus() {
  auto reachability = os::NetworkReachability::forLinkLocalNetwork();
  auto flags = reachability ? reachability->flags() : std::nullopt;
  if (!flags || !(*flags & os::kReachabilityFlagsReachable)) return 0;
  return (*flags & os::kReachabilityFlagsIsWWAN) ? 1 : 2;
}

int deviceTpye() {
  std::string model = doDeviceModel();
  if (model.empty()) return 1;
  if (os::contains(model, "iPhone")) return 1;
  if (os::contains(model, "iPad")) return 2;
  if (os::contains(model, "iPod")) return 3;
  return 4;
}

std::string doDeviceModel() { return os::Device::current().machine(); }

std::string iosVersion() { return os::Device::current().systemVersion(); }

int isJailbroken() {
  std::string path = os::Sandbox::current()->deviceDirectory() + kJailbreakMarkPath;
  return os::FileManager::defaultManager().fileExistsAtPath(path) ? 1 : 2;
}

}  // namespace DeviceExtensions
