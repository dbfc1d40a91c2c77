#pragma once
// The push client's stateless helpers: device, carrier and network facts, time stamps, the
// posting of the client's notifications to the application, hashes and encodings, the IPv4
// socket address builder and the device-information record sent with the reports.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"

inline constexpr const char* kDUVSDKVersion = "1.8.1";

// ---- device, carrier and network ----
std::optional<std::string> CTCarrierName();
std::optional<std::string> CTMobileNetworkCode();
std::optional<std::string> CTCountryCode();
// The current Wi-Fi network's BSSID and SSID, "Not Found" without one.
std::string ZRFMACAddress();
std::string ZRFSSID();
// 1 China Mobile, 2 China Unicom, 3 China Telecom, 0 anything else.
int DUVCarrierTypeFromCarrierName(const std::optional<std::string>& carrierName);
// The text of a reachability status: -1, 0, 2 and 3 have names, anything else is "".
std::string DUVGetNetWorkName(long status);
std::string DUVModelName();
std::string DUVCurrentResolution();
std::string DUVGetCurrentSystemVersion();
std::string DUVGetCurrentAPPVersion();
std::optional<std::string> DUVGetCurrentLanguage();
// Whole hours of the device's offset from GMT: "+8", "0", "-5".
std::string DUVGetCurrentTimeZone();
std::string DUVTimeZoneText(long secondsEastOfGMT);
// "iPhone" and the first 18 characters of the push client's own device identifier.
std::string DUVFakeIMEI();
// A 16-byte IPv4 socket address (length, family, big-endian port, address, zeros), for
// "localhost", "loopback" or a dotted address only; nothing otherwise.
std::optional<os::Data> getDataAddressByHostAndPort(const std::optional<std::string>& host, std::uint16_t port);

// ---- time ----
double DUVGetCurrentTimestamp();
// "yyyy-MM-dd" and "HH:mm:ss" in the device's time zone.
void DUVGetDateAndTimeFromTimestamp(double timestamp, std::string* date, std::string* time);

// ---- notifications to the application (on the main queue, later than the call) ----
// `posted`, when given, runs on the main queue once the notification went out.
void DUVPostNotificationWithUserInfo(const std::string& name, const os::Dictionary& userInfo,
                                     std::function<void()> posted = nullptr);
void DUVPostNotification(const std::string& name);

// ---- hashes and encodings ----
std::string DUVStringHashingByMD5(const std::optional<std::string>& text);
std::string DUVDataHashingMD5(const os::Data& bytes);
std::optional<os::Value> ZRFJSONObject(const std::optional<os::Data>& bytes);
// Compact JSON of an array or a dictionary; nothing for any other value.
std::optional<os::Data> ZRFJSONData(const os::Value& object);
// A gzip stream; empty input stays empty; nothing when the compressor cannot start.
std::optional<os::Data> DUVGzip(const os::Data& bytes);
// Standard alphabet with padding, one line; "" for empty input.
std::string DUVBase64(const os::Data& bytes);

// ---- files ----
std::optional<std::string> APUrlForDefaultFileDirectory(bool create);
std::optional<std::string> APUrlForUserDefaultFile(const std::string& folderName);

// ---- the device-information record of the reports ----
os::Dictionary DUVCurrentDeviceInfo(const std::string& channel);
