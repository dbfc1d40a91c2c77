#include "push/utilities/DUVUtilities.h"

#include <arpa/inet.h>

#include <cmath>
#include <cstdio>

#include "foundation/formats/Base64.h"
#include "os/core/Compression.h"
#include "foundation/formats/DateCalendar.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/crypto/Digest.h"
#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/views/Device.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVSharedUDID.h"

namespace {
std::optional<std::string> nonEmpty(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}
}  // namespace

std::optional<std::string> CTCarrierName() { return nonEmpty(os::Device::current().profile().carrierName); }
std::optional<std::string> CTMobileNetworkCode() { return nonEmpty(os::Device::current().mobileNetworkCode()); }
std::optional<std::string> CTCountryCode() { return nonEmpty(os::Device::current().mobileCountryCode()); }

std::string ZRFMACAddress() {
  const auto& bssid = os::Device::current().profile().wifiBSSID;
  return bssid.empty() ? "Not Found" : bssid;
}

std::string ZRFSSID() {
  const auto& ssid = os::Device::current().profile().wifiSSID;
  return ssid.empty() ? "Not Found" : ssid;
}

int DUVCarrierTypeFromCarrierName(const std::optional<std::string>& carrierName) {
  if (!carrierName) return 0;
  if (*carrierName == "中国移动") return 1;
  if (*carrierName == "中国联通") return 2;
  if (*carrierName == "中国电信") return 3;
  return 0;
}

std::string DUVGetNetWorkName(long status) {
  switch (status) {
    case -1: return "NetworkUnknown";
    case 0: return "NotReachable";
    case 2: return "ReachableViaWiFi";
    case 3: return "ReachableViaWWAN";
    default: return "";
  }
}

std::string DUVModelName() {
  // The platform hands the identifier over in a 128-byte buffer with room for 127 bytes.
  std::string machine = os::Device::current().machine();
  if (machine.size() > 127) machine.resize(127);
  return machine;
}

std::string DUVCurrentResolution() {
  const auto& profile = os::Device::current().profile();
  if (profile.idiom != os::UserInterfaceIdiom::Phone) return "2048x1536";
  double h = profile.screenSize.height * profile.screenScale;
  if (h <= 480) return "320x480";
  if (h > 960) return "640x1136";
  return "640x960";
}

std::string DUVGetCurrentSystemVersion() { return os::Device::current().systemVersion(); }

std::string DUVGetCurrentAPPVersion() {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return "";
  return bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringOr("");
}

std::optional<std::string> DUVGetCurrentLanguage() {
  auto languages = os::UserDefaults::standardUserDefaults()->arrayForKey("AppleLanguages");
  if (!languages || languages->empty() || !languages->front().string()) return std::nullopt;
  return *languages->front().string();
}

std::string DUVTimeZoneText(long seconds) {
  long hours = seconds / 3600;  // toward zero
  return (seconds >= 3600 ? "+" : "") + std::to_string(hours);
}

std::string DUVGetCurrentTimeZone() {
  return DUVTimeZoneText(DateCalendar::currentCalendar().timeZone().offsetAt(os::Clock::now()));
}

std::string DUVFakeIMEI() { return ("iPhone" + DUVSharedUDID::value()).substr(0, 24); }

std::optional<os::Data> getDataAddressByHostAndPort(const std::optional<std::string>& host, std::uint16_t port) {
  if (!host || host->empty()) return std::nullopt;
  in_addr address{};
  if (*host == "localhost" || *host == "loopback") {
    address.s_addr = htonl(INADDR_LOOPBACK);
  } else if (inet_pton(AF_INET, host->c_str(), &address) != 1 || address.s_addr == INADDR_NONE) {
    return std::nullopt;
  }
  os::Data bytes(16, 0);
  bytes[0] = 16;
  bytes[1] = 2;
  bytes[2] = static_cast<std::uint8_t>(port >> 8);
  bytes[3] = static_cast<std::uint8_t>(port);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&address.s_addr);  // network order
  std::copy(raw, raw + 4, bytes.begin() + 4);
  return bytes;
}

double DUVGetCurrentTimestamp() { return os::Clock::now(); }

void DUVGetDateAndTimeFromTimestamp(double timestamp, std::string* date, std::string* time) {
  auto c = DateCalendar::currentCalendar().components(os::Date::fromTimeIntervalSince1970(timestamp));
  char buffer[32];
  if (date) {
    std::snprintf(buffer, sizeof buffer, "%04ld-%02ld-%02ld", c.year, c.month, c.day);
    *date = buffer;
  }
  if (time) {
    std::snprintf(buffer, sizeof buffer, "%02ld:%02ld:%02ld", c.hour, c.minute, c.second);
    *time = buffer;
  }
}

void DUVPostNotificationWithUserInfo(const std::string& name, const os::Dictionary& userInfo,
                                     std::function<void()> posted) {
  os::DispatchQueue::main()->async([name, userInfo, posted = std::move(posted)] {
    os::NotificationCenter::defaultCenter().post(name, nullptr, userInfo);
    if (posted) posted();
  });
}

void DUVPostNotification(const std::string& name) { DUVPostNotificationWithUserInfo(name, {}); }

std::string DUVStringHashingByMD5(const std::optional<std::string>& text) {
  if (!text) return os::md5Hex(std::string_view());
  // The text is hashed up to its first NUL, as a C string would be.
  return os::md5Hex(std::string_view(text->c_str()));
}

std::string DUVDataHashingMD5(const os::Data& bytes) { return os::md5Hex(bytes); }

std::optional<os::Value> ZRFJSONObject(const std::optional<os::Data>& bytes) {
  if (!bytes) return std::nullopt;
  return objectFromJSONData(*bytes);
}

std::optional<os::Data> ZRFJSONData(const os::Value& object) {
  if (!object.isArray() && !object.isDictionary()) return std::nullopt;
  return JSONData(object);
}

std::optional<os::Data> DUVGzip(const os::Data& bytes) {
  // Empty input stays empty (not an empty gzip stream), as the report uploader expects.
  if (bytes.empty()) return bytes;
  return os::gzipData(bytes);
}

std::string DUVBase64(const os::Data& bytes) { return base64EncodedString(bytes).value_or(""); }

std::optional<std::string> APUrlForDefaultFileDirectory(bool create) {
  std::string library = os::Sandbox::current()->libraryDirectory();
  bool isDirectory = false;
  if (os::FileManager::defaultManager().fileExistsAtPath(library, &isDirectory) && isDirectory) return library;
  if (create && os::FileManager::defaultManager().createDirectoryAtPath(library, true)) return library;
  DUVClassLogger("DUVUtilities")->logMessage("get LIB dir error", std::nullopt, &DUVLevel::error());
  return std::nullopt;
}

std::optional<std::string> APUrlForUserDefaultFile(const std::string& folderName) {
  auto library = APUrlForDefaultFileDirectory(false);
  if (!library || folderName.empty()) return std::nullopt;
  std::string folder =
      os::appendingPathComponent(os::appendingPathComponent(*library, "4C90E90E-C569-4396-AB2D-AC33BF8A1E44"), folderName);
  bool isDirectory = false;
  if (!os::FileManager::defaultManager().fileExistsAtPath(folder, &isDirectory) || !isDirectory) return std::nullopt;
  return os::appendingPathComponent(folder, "APUserDefaults.plist");
}

os::Dictionary DUVCurrentDeviceInfo(const std::string& channel) {
  std::string version = DUVGetCurrentAPPVersion();
  auto language = DUVGetCurrentLanguage();
  return os::Dictionary{
      {"itime", os::Value(static_cast<long long>(std::floor(DUVGetCurrentTimestamp())))},
      {"type", os::Value("device_info")},
      {"os_version", os::Value(DUVGetCurrentSystemVersion())},
      {"sdk_version", os::Value(kDUVSDKVersion)},
      {"timezone", os::Value(DUVGetCurrentTimeZone())},
      {"app_versioncode", os::Value(version)},
      {"app_versionname", os::Value(version)},
      {"language", os::Value(language.value_or(""))},
      {"resolution", os::Value(DUVCurrentResolution())},
      {"Channel", os::Value(channel)},
      {"model", os::Value(DUVModelName())},
  };
}
