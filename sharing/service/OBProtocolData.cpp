#include "sharing/service/OBProtocolData.h"

#include "foundation/formats/DateUtilities.h"
#include "foundation/net/Reachability.h"
#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/core/Log.h"
#include "os/crypto/Random.h"
#include "os/views/Device.h"
#include "sharing/net/OBSharedUDID.h"
#include "sharing/service/OBUtils.h"

std::string OBProtocolData::dateString() { return stringWithFormat(os::Date::now(), "yyyy-MM-dd"); }
std::string OBProtocolData::timeString() { return stringWithFormat(os::Date::now(), "HH:mm:ss"); }
std::string OBProtocolData::timeMSString() { return stringWithFormat(os::Date::now(), "HH:mm:ss.SSS"); }

std::string OBProtocolData::deviceIDVendorString() { return os::Device::current().identifierForVendor(); }

std::optional<std::string> OBProtocolData::deviceMacString() {
  const std::string& mac = os::Device::current().profile().macAddress;
  if (mac.empty()) return std::nullopt;
  return os::uppercaseASCII(mac);
}

std::string OBProtocolData::sharedUDIDString() {
  try {
    return OBSharedUDID::value();
  } catch (const os::Exception& exception) {
    os::logf("Exception occurred: %s, %s", exception.name().c_str(), exception.reason().c_str());
    return "";
  }
}

std::string OBProtocolData::UUIDString() { return os::uuidString(); }
std::string OBProtocolData::UUIDMD5String() { return md5Value(UUIDString()); }
std::string OBProtocolData::deviceModelString() { return os::Device::current().machine(); }
std::string OBProtocolData::osVersionString() { return os::Device::current().systemVersion(); }

std::string OBProtocolData::orientationString() {
  auto orientation = os::Device::current().orientation();
  bool upright = orientation == os::DeviceOrientation::Portrait || orientation == os::DeviceOrientation::PortraitUpsideDown;
  return upright ? "0" : "1";
}

bool OBProtocolData::isPad() { return os::Device::current().userInterfaceIdiom() == os::UserInterfaceIdiom::Pad; }

std::string OBProtocolData::accessString() {
  const std::string model = deviceModelString();
  if (model == "iPhone Simulator" || model == "x86_64" || model == "i386") return "WiFi";
  // The platform answers which kind of interface carries the traffic, not a list of them.
  auto reachability = Reachability::reachabilityForInternetConnection();
  switch (reachability ? reachability->currentReachabilityStatus() : NotReachable) {
    case ReachableViaWiFi: return "WiFi";
    case ReachableViaWWAN: return "CellNetwork";
    default: return "";
  }
}

std::string OBProtocolData::md5Value(const std::string& text) { return OBUtils::md5Value(text); }
