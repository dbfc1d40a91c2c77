#include "sharing/service/OBSProtocol.h"

#include "os/core/Date.h"
#include "os/store/UserDefaults.h"
#include "sharing/service/OBProtocolData.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSUserManager.h"

namespace {

constexpr const char* kFirstUseKey = "OBSocialFirstUse";

std::string milliseconds() {
  return std::to_string(static_cast<long long>(os::Date::now().timeIntervalSince1970() * 1000));
}

std::optional<std::string> entityKey() {
  auto bar = OBSDataManager::currentDataManager()->barEntity();
  if (bar && bar->entityKey && !bar->entityKey->empty()) return bar->entityKey;
  return std::nullopt;
}

}  // namespace

std::string OBSQueryValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '&')
      out += "%26";
    else
      out += c;
  }
  return out;
}

std::string OBSQueryPair(const std::string& name, const std::string& value) { return "&" + name + "=" + value; }

std::string OBSQueryAnsweredPair(const std::string& name, const std::string& value) {
  return "&" + name + "=" + OBSQueryValue(value);
}

std::shared_ptr<OBSProtocol> OBSProtocol::sharedInstance() { return OBSocialContext::shared<OBSProtocol>(); }

std::string OBSProtocol::baseString() {
  std::string q = "mac=" + OBProtocolData::deviceMacString().value_or("");
  q += OBSQueryPair("sharedudid", OBProtocolData::sharedUDIDString());
  q += OBSQueryPair("pcv", kOBSProtocolVersion);
  q += OBSQueryPair("en", OBProtocolData::accessString());
  q += OBSQueryPair("de", OBProtocolData::deviceModelString());
  q += OBSQueryPair("os", OBProtocolData::osString());
  q += OBSQueryPair("dt", milliseconds());
  q += OBSQueryPair("tp", typeString());
  q += OBSQueryPair("ak", OBSDataManagerSet::shareInstance()->appkey());
  if (auto ek = entityKey()) q += OBSQueryAnsweredPair("ek", *ek);
  if (auto uid = OBSUserManager::shareInstance()->uid()) q += OBSQueryAnsweredPair("uid", *uid);
  {
    std::lock_guard lock(mutex_);
    if (cuid_) q += OBSQueryPair("cuid", *std::exchange(cuid_, std::nullopt));
  }
  q += OBSQueryPair("sdkv", kOBSSdkVersion);
  return q;
}

os::Dictionary OBSProtocol::baseDictionary() {
  os::Dictionary d{{"mac", os::Value(OBProtocolData::deviceMacString().value_or(""))},
                   {"sharedudid", os::Value(OBProtocolData::sharedUDIDString())},
                   {"sdkv", os::Value(kOBSSdkVersion)},
                   {"pcv", os::Value(kOBSProtocolVersion)},
                   {"en", os::Value(OBProtocolData::accessString())},
                   {"de", os::Value(OBProtocolData::deviceModelString())},
                   {"os", os::Value(OBProtocolData::osString())},
                   {"dt", os::Value(milliseconds())},
                   {"tp", os::Value(typeString())},
                   {"ak", os::Value(OBSDataManagerSet::shareInstance()->appkey())}};
  if (auto uid = OBSUserManager::shareInstance()->uid()) d.set("uid", os::Value(*uid));
  if (auto ek = entityKey()) d.set("ek", os::Value(*ek));
  std::lock_guard lock(mutex_);
  if (wid_) d.set("wid", os::Value(*std::exchange(wid_, std::nullopt)));
  return d;
}

std::string OBSProtocol::firstUse() {
  auto defaults = os::UserDefaults::standardUserDefaults();
  if (defaults->objectForKey(kFirstUseKey)) return "0";
  defaults->setBool(true, kFirstUseKey);
  return "1";
}

void OBSProtocol::setCuid(std::string cuid) {
  std::lock_guard lock(mutex_);
  cuid_ = std::move(cuid);
}

void OBSProtocol::setWid(std::string wid) {
  std::lock_guard lock(mutex_);
  wid_ = std::move(wid);
}
