#include "sharing/service/OBSocialAccountManager.h"

#include <algorithm>

#include "os/core/Date.h"
#include "os/store/UserDefaults.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBUtils.h"

namespace {

void logUnknownPlatform(const std::string& name) {
  auto names = OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray();
  if (std::find(names.begin(), names.end(), name) == names.end())
    OBUtils::outLogf("platformType %s error, you should use platformType in `OBSocialSnsPlatformManager`, such as OBShareToSina.",
                     name.c_str());
}

}  // namespace

OBSAccountDictionary OBSocialAccountManager::socialAccountDictionary() {
  return OBSUserManager::shareInstance()->snsAccountDictionary();
}

void OBSocialAccountManager::postSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account, OBSocialCompletion completion) {
  postSnsAccountInternal(account, std::move(completion), std::nullopt);
}

void OBSocialAccountManager::postSnsAccountInternal(const std::shared_ptr<OBSocialAccountEntity>& account,
                                                    OBSocialCompletion completion,
                                                    const std::optional<std::string>& sourceRequestType) {
  OBSocialOpAnalytics::postSocialAnalytics("28", sourceRequestType, account ? account->platformName : std::nullopt);
  OBSocialData::defaultData()->refresh();
  OBSUserManager::shareInstance()->requestAddSnsAccount(account, std::move(completion));
}

void OBSocialAccountManager::postAppInfo(const os::Dictionary& appInfo, OBSocialCompletion completion) {
  OBSDataManager::currentDataManager()->postAppInfo(appInfo, std::move(completion));
}

void OBSocialAccountManager::postCustomAccount(const std::shared_ptr<OBSocialCustomAccount>& account,
                                               OBSocialCompletion completion) {
  OBSUserManager::shareInstance()->requestAddCustomAccount(account, std::move(completion));
}

void OBSocialAccountManager::setSnsAccount(const std::shared_ptr<OBSocialAccountEntity>& account) {
  if (!account || !account->platformName) return;
  auto users = OBSUserManager::shareInstance();
  auto accounts = users->snsAccountDictionary();
  accounts[*account->platformName] = account;
  users->setSnsAccountDictionary(accounts);
}

bool OBSocialAccountManager::isLoginWithSnsAccount() { return socialAccountDictionary().count("loginAccount") > 0; }

bool OBSocialAccountManager::isLogin() { return isLoginWithSnsAccount() || isLoginWithAnonymous(); }

bool OBSocialAccountManager::isOauthAndTokenNotExpired(const std::string& platformName) {
  auto account = OBSUserManager::shareInstance()->accountForPlatform(platformName);
  if (!account || !account->usid) {
    logUnknownPlatform(platformName);
    return false;
  }
  if (!account->expirationDate) return true;
  return os::Date::now().timeIntervalSince1970() <= account->expirationDate->timeIntervalSince1970();
}

bool OBSocialAccountManager::isOauthWithPlatform(const std::string& platformName) {
  auto account = OBSUserManager::shareInstance()->accountForPlatform(platformName);
  if (account && account->usid) return true;
  logUnknownPlatform(platformName);
  return false;
}

bool OBSocialAccountManager::isLoginWithAnonymous() {
  return os::UserDefaults::standardUserDefaults()->boolForKey(kOBSocialLoginWithAnonymousKey);
}

void OBSocialAccountManager::setIsLoginWithAnonymous(bool anonymous) {
  auto defaults = os::UserDefaults::standardUserDefaults();
  defaults->setObject(os::Value(anonymous ? 1 : 0), kOBSocialLoginWithAnonymousKey);
  defaults->synchronize();
}
