#include "news/api/VXBaseQuarnRequest.h"

#include "news/api/DeviceExtensions.h"
#include "news/api/VXRequestConfig.h"

int VXBaseQuarnRequest::interfaceVer() const { return INTERFACE_VERSION_QUARN; }
std::string VXBaseQuarnRequest::serverHost(const VXRequestConfig& config) const { return config.quarnHost(); }
std::string VXBaseQuarnRequest::serverPath() const { return std::string(INTERFACE_PATH_QUARN); }

os::Dictionary VXBaseQuarnRequest::query() {
  os::Dictionary& p = params();
  p.set("devtype", DeviceExtensions::deviceTpye());
  p.set("deviceos", DeviceExtensions::iosVersion());
  // Only a jailbroken device says so; the key is left out otherwise.
  if (DeviceExtensions::isJailbroken() == 1) p.set("jailbreak", 1);
  p.set("sn", deviceSN());
  p.set("cid", CHANNEL_ID);
  // Left out rather than sent empty when the bundle has no version.
  if (auto version = bundleString("CFBundleShortVersionString")) p.set("version", *version);
  std::string text = encodeParams(p);
  std::string check = makeCheckCodeWithParams(text, se(SECRET_KEY_QUARN));
  return os::Dictionary{{"p", text}, {"v", interfaceVer()}, {"check", check}};
}
