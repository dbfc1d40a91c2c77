#include "platforms/wechat/MMApiRegister.h"

#include <cstdint>

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/Pasteboard.h"
#include "platforms/wechat/AppCommunicate.h"
#include "platforms/wechat/WeChatApiUtil.h"

namespace {

constexpr std::size_t kDescriptionLimit = 1024;

std::string nowText() {
  return std::to_string(static_cast<std::uint32_t>(static_cast<std::int64_t>(os::Date::now().timeIntervalSince1970())));
}

std::optional<std::string> nonEmptyString(const os::Value& v) {
  if (const std::string* s = v.string(); s && !s->empty()) return *s;
  return std::nullopt;
}

}  // namespace

std::optional<os::Dictionary> MMApiRegister::getRegisterDictionary(const os::Pasteboard& pasteboard) {
  auto list = WeChatApiUtil::propertyListFromData(pasteboard.dataForPasteboardType(kWXPasteboardType));
  if (!list || !list->dictionary()) return std::nullopt;
  return *list->dictionary();
}

std::optional<std::string> MMApiRegister::getIconString() {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  const os::Dictionary info = bundle->infoDictionary();
  if (info.empty()) return std::nullopt;
  const bool retina = WeChatApiUtil::is2xScreen();
  std::string name = retina ? "Icon@2x.png" : "Icon.png";
  if (const os::Array* files = info["CFBundleIconFiles"].array()) {
    std::optional<std::string> chosen, last;
    for (const os::Value& v : *files) {
      const std::string* file = v.string();
      if (!file) continue;
      last = *file;
      if (!chosen && os::contains(*file, "@2x") == retina) chosen = *file;
    }
    if (chosen)
      name = *chosen;
    else if (last)
      name = *last;
  } else if (auto file = nonEmptyString(info["CFBundleIconFile"])) {
    name = *file;
  }
  return bundle->bundlePath() + "/" + name;
}

os::Dictionary MMApiRegister::buildAppDictionary(const std::string& appId, const std::optional<os::Dictionary>& old) {
  os::Dictionary entry;
  auto& files = os::FileManager::defaultManager();
  auto bundle = os::Bundle::mainBundle();
  std::optional<os::Data> icon;
  if (auto path = getIconString()) {
    icon = files.contentsAtPath(*path);
    if (!icon && bundle) icon = files.contentsAtPath(os::appendingPathComponent(bundle->bundlePath(), "Icon.png"));
  }
  if (icon) entry.set("appIcon", os::Value(std::move(*icon)));
  if (bundle) {
    if (auto identifier = bundle->bundleIdentifier()) entry.set("appIdentifier", os::Value(*identifier));
    auto name = nonEmptyString(bundle->objectForInfoDictionaryKey("CFBundleDisplayName"));
    if (!name) name = nonEmptyString(bundle->objectForInfoDictionaryKey("CFBundleName"));
    if (name) entry.set("appName", os::Value(*name));
  }
  const std::string now = nowText();
  std::optional<std::string> first;
  if (old)
    if (const std::string* s = (*old)["firstLaunchTime"].string()) first = *s;
  entry.set("firstLaunchTime", os::Value(first.value_or(now)));
  entry.set("laststLaunchTime", os::Value(now));
  entry.set("appID", os::Value(appId));
  return entry;
}

bool MMApiRegister::registerApp(const std::string& appId, const std::optional<std::string>& description) {
  if (appId.empty()) return false;
  auto board = os::Pasteboard::pasteboardWithName(getRegisterPasteboardName(), true);
  if (!board) return false;
  board->setPersistent(true);
  os::Dictionary all = getRegisterDictionary(*board).value_or(os::Dictionary());
  std::optional<os::Dictionary> old;
  if (const os::Dictionary* previous = all[appId].dictionary()) old = *previous;
  os::Dictionary entry = buildAppDictionary(appId, old);
  if (description && !description->empty() && os::utf16Length(*description) <= kDescriptionLimit)
    entry.set("appDescriptionSDK", os::Value(*description));
  all.set(appId, os::Value(std::move(entry)));
  auto data = WeChatApiUtil::dataFromPropertyList(os::Value(all));
  return data && board->setData(*data, kWXPasteboardType);
}
