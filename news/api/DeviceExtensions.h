#pragma once
// Facts about the current device that the news client asks for: identifiers for the request
// envelope, the model family, the system version, the network and the jailbreak mark. Stateless;
// any thread. Identifiers that cannot be read answer "" (disk sizes: nothing).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace DeviceExtensions {

// The device's user-visible name, percent-escaped in UTF-8.
std::string deviceName();
// Hardware address of the primary interface, "%02X:..." six bytes; "" when unknown.
std::string macAddress();
// Advertising identifier as a UUID string; "" when the device offers none.
std::string idfaString();
// Vendor identifier as a UUID string; "" when none.
std::string idfvString();
// The identifier shared between applications on the device.
std::string sharedUDID();
std::optional<std::uint64_t> totalDiskSpace();
std::optional<std::uint64_t> freeDiskSpace();
std::string wifiSSID();
// Also written to the console.
std::string wifiBSSID();
// Status of the local Wi-Fi: 0 not reachable, 1 cellular, 2 Wi-Fi.
int netStatus();
// Model family: 1 "iPhone" (also when no model can be read), 2 "iPad", 3 "iPod", 4 any other.
int deviceTpye();
// The hardware model identifier.
std::string doDeviceModel();
std::string iosVersion();
// 1 when the package manager's application folder exists on the device, else 2 (never 0).
int isJailbroken();

// Replaces where sharedUDID() comes from (tests); an empty function restores the shared
// identifier of the networking layer.
void setSharedUDIDSource(std::function<std::string()> source);

}  // namespace DeviceExtensions
