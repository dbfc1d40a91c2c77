#pragma once
// The device and environment facts the sharing service's base parameters carry.
#include <optional>
#include <string>

class OBProtocolData {
 public:
  static std::string dateString();    // "yyyy-MM-dd"
  static std::string timeString();    // "HH:mm:ss"
  static std::string timeMSString();  // "HH:mm:ss.SSS"
  static std::string latString() { return ""; }
  static std::string lngString() { return ""; }
  static std::string cpuString() { return ""; }
  static std::string deviceIDVendorString();
  // The device's hardware address as "XX:XX:XX:XX:XX:XX"; absent when the device tells none.
  static std::optional<std::string> deviceMacString();
  static std::string sharedUDIDString();
  static std::string UUIDString();
  static std::string UUIDMD5String();
  static std::string deviceModelString();
  static std::string osString() { return "iOS"; }
  static std::string osVersionString();
  // "0" upright (portrait or upside down), "1" otherwise.
  static std::string orientationString();
  static bool isPad();
  // "WiFi", "CellNetwork" or "" (no network).
  static std::string accessString();
  static std::string md5Value(const std::string& text);
};
