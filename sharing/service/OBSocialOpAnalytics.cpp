#include "sharing/service/OBSocialOpAnalytics.h"

#include "os/core/String.h"
#include "os/store/UserDefaults.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"

OBSocialOpAnalytics::OBSocialOpAnalytics() {
  auto defaults = os::UserDefaults::standardUserDefaults();
  if (auto stored = defaults->dictionaryForKey(kOBSocialOpDictionaryKey)) {
    opDictionary_ = *stored;
    opDictionary_.remove("count");
    count_ = static_cast<std::int32_t>(defaults->integerForKey(kOBSocialOpCountKey));
  }
}

std::shared_ptr<OBSocialOpAnalytics> OBSocialOpAnalytics::shareInstance() {
  return OBSocialContext::shared<OBSocialOpAnalytics>();
}

void OBSocialOpAnalytics::postSocialAnalytics(const std::string& code) { shareInstance()->record(code, std::nullopt); }

void OBSocialOpAnalytics::postSocialAnalytics(const std::string& code, const std::optional<std::string>& fromSourceOpType) {
  postSocialAnalytics(code, fromSourceOpType, std::nullopt);
}

void OBSocialOpAnalytics::postSocialAnalytics(const std::string& code, const std::optional<std::string>& fromSourceOpType,
                                              const std::optional<std::string>& snsName) {
  shareInstance()->record(fromSourceOpType ? *fromSourceOpType + "+" + code : code, snsName);
}

void OBSocialOpAnalytics::postSocialAnalyticsForSns(const std::string& code, const std::optional<std::string>& snsName) {
  shareInstance()->record(code, snsName);
}

void OBSocialOpAnalytics::record(const std::string& code, const std::optional<std::string>& snsName) {
  ++count_;
  std::string key = code;
  if (snsName) key += "-" + std::to_string(OBSocialSnsPlatformManagerInternal::getSnsPlatformType(*snsName));
  const os::Value* existing = opDictionary_.find(key);
  opDictionary_.set(key, os::Value(std::to_string(existing ? os::intValue(existing->stringOr()) + 1 : 1)));
  // The counts are let go only once a report carrying them was queued; without an application
  // key no report can be, and they keep growing until one can.
  if (count_ >= kOBSocialOpReportEvery &&
      OBSDataManager::currentDataManager()->postOpAnalyticsWithDictionary(opDictionary_, nullptr)) {
    opDictionary_.clear();
    count_ = 0;
  }
  auto defaults = os::UserDefaults::standardUserDefaults();
  defaults->setObject(os::Value(opDictionary_), kOBSocialOpDictionaryKey);
  defaults->setInteger(count_, kOBSocialOpCountKey);
  defaults->synchronize();
}
