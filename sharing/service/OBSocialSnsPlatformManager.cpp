#include "sharing/service/OBSocialSnsPlatformManager.h"

#include <algorithm>

#include "os/core/Log.h"
#include "os/store/Bundle.h"
#include "sharing/handlers/OBSocialFacebookSnsHandler.h"
#include "sharing/handlers/OBSocialMailHandler.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

struct WebPlatform {
  int type;
  const char* name;
  const char* loginKey;
  const char* callbackPath;
  const char* image;
  bool needLogin;
};

const WebPlatform kWebPlatforms[] = {{10, "qzone", "qq_account", "/qzone/main", "qzone", false},
                                     {11, "sina", "sina", "/sina2/main", "sina", true},
                                     {12, "velmora", "velmora", "/tenc2/main", "velmora", true},
                                     {13, "renren", "renren", "/renr2/main", "renren", true},
                                     {14, "douban", "douban", "/douban/main", "douban", true}};

// The platforms whose handlers share through the system's composers; their handlers give them
// their own click handlers.
const std::pair<const char*, int> kComposerPlatforms[] = {{"facebook", 21}, {"twitter", 22}, {"email", 18}, {"sms", 19}};

std::string localized(const std::string& key) {
  return os::Bundle::mainBundle()->localizedStringForKey(key, "", "OBSocialLocalizable");
}

}  // namespace

std::shared_ptr<OBSocialSnsPlatform> OBSocialSnsPlatformManager::makeSNSDescriptorWithType(int type) {
  for (const auto& web : kWebPlatforms) {
    if (web.type != type) continue;
    auto platform = std::make_shared<OBSocialSnsPlatform>(web.name);
    platform->shareToType = type;
    platform->displayName = localized(web.name);
    platform->loginName = localized(web.loginKey);
    const std::string images = std::string("OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_") + web.image;
    platform->bigImageName = images + "_icon";
    platform->smallImageName = images + "_on";
    platform->smallImageOffName = images + "_off";
    platform->oauthBaseURLString = "share/auth";
    platform->oauthCallBackPath = web.callbackPath;
    platform->needLogin = web.needLogin;
    platform->haveWebViewAuth = true;
    return platform;
  }
  return std::make_shared<OBSocialSnsPlatform>("");
}

OBSocialSnsPlatformManager::OBSocialSnsPlatformManager() {
  OBSocialConfig::shareInstance();
  for (const auto& web : kWebPlatforms) {
    auto platform = makeSNSDescriptorWithType(web.type);
    allSnsPlatformDictionary_.emplace_back(web.name, platform);
    webPlatformNames_.emplace_back(web.name);
    makeLoginHandlerWithPlatform(platform);
    makeSnsClickHandlerWithPlatform(platform);
  }
  for (const auto& [name, type] : kComposerPlatforms) {
    std::shared_ptr<OBSocialSnsPlatform> platform;
    if (type == 18 || type == 19)
      platform = OBSocialMailHandler::shareInstance()->getEmailSmsPlatform(name);
    else
      platform = OBSocialFacebookSnsHandler::shareInstance()->getFacebookTwitterPlatform(name);
    allSnsPlatformDictionary_.emplace_back(name, platform);
  }
  makeLoginHandlerWithPlatform(getSnsPlatformWithName("facebook"));
}

std::shared_ptr<OBSocialSnsPlatformManager> OBSocialSnsPlatformManager::sharedInstance() {
  return OBSocialContext::shared<OBSocialSnsPlatformManager>();
}

void OBSocialSnsPlatformManager::makeLoginHandlerWithPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform) {
  if (!platform) return;
  std::weak_ptr<OBSocialSnsPlatform> weak = platform;
  platform->loginClickHandler = [weak](const auto& controller, const auto& service, bool isPresent,
                                       OBSocialCompletion completion) {
    auto descriptor = weak.lock();
    if (!descriptor) return;
    OBSocialConfigInternal::shareInstance()->qqType = 0;
    auto internal = descriptor->platformInternal();
    internal->shareStatus = "0";
    internal->snsLoginHandlerrWithController(controller, service, isPresent, std::move(completion), std::nullopt);
  };
}

void OBSocialSnsPlatformManager::makeSnsClickHandlerWithPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform) {
  if (!platform) return;
  std::weak_ptr<OBSocialSnsPlatform> weak = platform;
  platform->snsClickHandler = [weak](const auto& controller, const auto& service, bool isPresent) {
    auto descriptor = weak.lock();
    if (!descriptor) return;
    OBSocialConfigInternal::shareInstance()->qqType = 1;
    auto internal = descriptor->platformInternal();
    internal->shareStatus = "1";
    internal->snsClickHandlerWithController(controller, service, isPresent, std::nullopt);
  };
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialSnsPlatformManager::getSnsPlatformWithName(const std::string& name,
                                                                                        bool logMissing) const {
  for (const auto& [key, platform] : allSnsPlatformDictionary_)
    if (key == name) return platform;
  if (logMissing) {
    OBUtils::outLogf("OBSocial----getSnsPlatformWithName snsName is %s", name.c_str());
    if (name != "loginAccount") OBUtils::outLogf("OBSocial----%s, Error: displayName error!", name.c_str());
  }
  return nullptr;
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialSnsPlatformManager::getSnsPlatformWithType(int type) const {
  for (const auto& [key, platform] : allSnsPlatformDictionary_)
    if (platform->shareToType == type) return platform;
  return nullptr;
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialSnsPlatformManager::getSnsPlatformWithIndex(std::size_t index) {
  auto names = socialSnsArray();
  return index < names.size() ? getSnsPlatformWithName(names[index]) : nullptr;
}

std::shared_ptr<OBSocialSnsPlatform> OBSocialSnsPlatformManager::getSocialPlatformWithName(const std::string& name) {
  return sharedInstance()->getSnsPlatformWithName(name);
}

std::optional<std::string> OBSocialSnsPlatformManager::getSnsPlatformString(int type) {
  if (auto platform = sharedInstance()->getSnsPlatformWithType(type)) return platform->platformName;
  os::log("OBSocial----socialSnsType error!");
  return std::nullopt;
}

int OBSocialSnsPlatformManager::getSnsPlatformType(const std::string& name) {
  if (auto platform = sharedInstance()->getSnsPlatformWithName(name, false)) return platform->shareToType;
  os::log("OBSocial----socialSnsString error!");
  return 0;
}

std::optional<std::string> OBSocialSnsPlatformManager::getSnsPlatformStringFromIndex(std::size_t index) {
  if (auto platform = sharedInstance()->getSnsPlatformWithIndex(index)) return platform->platformName;
  os::log("OBSocial----sns index error!");
  return std::nullopt;
}

os::Array OBSocialSnsPlatformManager::allSnsArray() const { return OBSocialConfigInternal::shareInstance()->snsPlatformNames(); }

std::vector<std::string> OBSocialSnsPlatformManager::allSnsValuesArray() {
  std::vector<std::string> flat;
  for (const auto& entry : allSnsArray()) {
    if (const os::Array* group = entry.array()) {
      for (const auto& name : *group)
        if (name.isString()) flat.push_back(*name.string());
    } else if (entry.isString()) {
      flat.push_back(*entry.string());
    }
  }
  allSnsValuesArray_ = flat;
  return flat;
}

std::vector<std::string> OBSocialSnsPlatformManager::socialSnsArray() {
  std::vector<std::string> filtered;
  for (const auto& name : allSnsValuesArray())
    if (std::find(webPlatformNames_.begin(), webPlatformNames_.end(), name) != webPlatformNames_.end())
      filtered.push_back(name);
  socialSnsArray_ = filtered;
  return filtered;
}

void OBSocialSnsPlatformManager::registerPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform) {
  if (!platform) return;
  for (auto& [key, existing] : allSnsPlatformDictionary_) {
    if (key == platform->platformName) {
      existing = platform;
      return;
    }
  }
  allSnsPlatformDictionary_.emplace_back(platform->platformName, platform);
}

int OBSocialSnsPlatformManager::highestPlatformType() const {
  int highest = 0;
  for (const auto& [key, platform] : allSnsPlatformDictionary_) highest = std::max(highest, platform->shareToType);
  return highest;
}

std::vector<std::shared_ptr<OBSocialSnsPlatform>> OBSocialSnsPlatformManager::allPlatforms() const {
  std::vector<std::shared_ptr<OBSocialSnsPlatform>> out;
  for (const auto& [key, platform] : allSnsPlatformDictionary_) out.push_back(platform);
  return out;
}

void OBSocialSnsPlatformManager::addMaskView() {
  toast_ = OBSocialXToast::makeText(localized("label_request_account"));
  toast_->setDuration(kOBSocialMaskToastDuration);
  toast_->show();
}

void OBSocialSnsPlatformManager::removeMaskView() {
  if (!toast_) return;
  toast_->removeToast();
  toast_.reset();
}
