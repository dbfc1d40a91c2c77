#include "news/api/DeviceExtensions.h"

#include <mutex>

#include "foundation/device/SharedUDID.h"
#include "foundation/net/Reachability.h"
#include "os/core/Log.h"
#include "os/core/String.h"
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
  return source ? source() : SharedUDID::value();
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
  auto reachability = Reachability::reachabilityForLocalWiFi();
  return reachability ? static_cast<int>(reachability->currentReachabilityStatus()) : 0;
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
