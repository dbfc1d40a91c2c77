#include "qqconnect/analytics/VMA4QCEvent.h"

#include <cstdio>

#include "foundation/formats/DateCalendar.h"
#include "foundation/formats/TimeZoneRules.h"
#include "os/runtime/Clock.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/views/Device.h"
#include "qqconnect/analytics/VMA4QCJSON.h"
#include "qqconnect/analytics/VMA4QCNetwork.h"

namespace {
os::Value u32(std::uint32_t v) { return os::Value::unsignedNumber('I', v); }
os::Value i32(std::int32_t v) { return os::Value::number('i', v); }

long dayOfYear(std::int64_t seconds) {
  auto& calendar = DateCalendar::currentCalendar();
  os::Date date = os::Date::fromTimeIntervalSince1970(static_cast<double>(seconds));
  DateComponents c = calendar.components(date);
  return calendar.daysFrom(calendar.dateFromComponents(c.year, 1, 1, 0, 0, 0), date) + 1;
}
}  // namespace

VMA4QCEnv VMA4QCEnv::gather() {
  VMA4QCEnv env;
  auto& device = os::Device::current();
  env.platform = device.systemName();
  env.os_version = device.systemVersion();
  auto sandbox = os::Sandbox::current();
  if (auto languages = sandbox->standardUserDefaults()->arrayForKey("AppleLanguages"); languages && !languages->empty())
    env.language = languages->front().stringOr();
  const auto& profile = device.profile();
  char resolution[64];
  std::snprintf(resolution, sizeof resolution, "%.fx%.f", profile.screenSize.width * profile.screenScale,
                profile.screenSize.height * profile.screenScale);
  env.resolution = resolution;
  env.deviceid = VMA4QCSharedUDID::value();
  if (device.hasCarrier()) env.mccmnc = device.mobileCountryCode() + device.mobileNetworkCode();
  env.timezone = TimeZoneRules::processLocal().name();
  auto bundle = sandbox->mainBundle();
  env.app_version = "unknown";
  for (const char* key : {"CFBundleShortVersionString", "CFBundleVersion"}) {
    os::Value v = bundle ? bundle->objectForInfoDictionaryKey(key) : os::Value();
    if (v.isString()) {
      env.app_version = *v.string();
      break;
    }
  }
  env.devicename = device.machine();
  env.modulename = device.model();
  if (VMA4QCCompareVersions(device.systemVersion(), "6.0") >= 0) env.ifv = device.identifierForVendor();
  auto& files = os::FileManager::defaultManager();
  env.jailbroken = files.fileExistsAtPath("/Applications/Cydia.app") || files.fileExistsAtPath("/private/var/lib/apt/");
  return env;
}

VMA4QCEvent::VMA4QCEvent(std::uint32_t sid) : sid_(sid), ts_(static_cast<std::uint32_t>(os::Clock::now())) {}

std::string VMA4QCEvent::toJsonString(const VMA4QCEncodeContext& context) const {
  os::Dictionary event;
  event.set("ts", u32(ts_));
  event.set("si", u32(sid_));
  event.set("mc", context.mac);
  event.set("ui", context.env ? context.env->deviceid : std::string());
  if (context.env && context.env->ifa) event.set("ifa", *context.env->ifa);
  if (context.env && context.env->ifv) event.set("ifv", *context.env->ifv);
  event.set("et", i32(getType()));
  if (context.settings.appkey) event.set("ky", *context.settings.appkey);
  encode(event, context);
  return VMA4QCJSON::JSONString(os::Value(std::move(event))).value_or("{}");
}

void VMA4QCSessionEnv::encode(os::Dictionary& event, const VMA4QCEncodeContext& context) const {
  VMA4QCEnv none;
  const VMA4QCEnv& env = context.env ? *context.env : none;
  os::Dictionary ev{{"tz", env.timezone}, {"ov", env.os_version}, {"av", env.app_version}, {"os", i32(2)},
                    {"sv", env.sdk_version}, {"lg", env.language}, {"sr", env.resolution}};
  if (env.mccmnc) ev.set("op", *env.mccmnc);
  ev.set("md", env.devicename);
  ev.set("mf", env.modulename);
  ev.set("ch", context.settings.channel);
  if (context.networkKind) ev.set("cn", *context.networkKind);
  event.set("ev", std::move(ev));
  std::optional<VMA4QCUser> user = context.user ? context.user() : std::nullopt;
  event.set("ut", i32(user ? user->userType : 0));
  if (env.jailbroken) event.set("jb", i32(1));
  if (context.holder) context.holder->encode(event);
}

VMA4QCCustomEvent::VMA4QCCustomEvent(std::uint32_t sid, std::string eventID, std::optional<os::Array> args,
                                     std::optional<os::Dictionary> kvs, std::uint32_t duration)
    : VMA4QCEvent(sid), eventID_(std::move(eventID)), args_(std::move(args)), kvs_(std::move(kvs)), duration_(duration) {}

void VMA4QCCustomEvent::encode(os::Dictionary& event, const VMA4QCEncodeContext&) const {
  event.set("ei", eventID_);
  if (args_) event.set("ar", *args_);
  if (kvs_) event.set("kv", *kvs_);
  if (duration_ != 0) event.set("du", u32(duration_));
}

void VMA4QCAdditionEvent::encode(os::Dictionary& event, const VMA4QCEncodeContext& context) const {
  if (context.settings.qq) event.set("qq", *context.settings.qq);
}

bool VMA4QCRefreshUser(VMA4QCUser& user, const std::string& appVersion, std::int64_t now) {
  std::int32_t t = user.userType;
  if (now > static_cast<std::int64_t>(user.tagTime) && dayOfYear(now) != dayOfYear(user.tagTime)) {
    user.userType |= 2;
    t = 1;
  }
  if (user.appVer != appVersion) {
    user.userType = t | 2;
    user.appVer = appVersion;
  }
  if (user.userType == t) return false;
  user.tagTime = static_cast<std::uint32_t>(now);
  return true;
}
