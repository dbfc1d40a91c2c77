#pragma once
// Counts how often each public operation of the sharing component is used, per platform where
// one is involved, and reports the table to the sharing service after every sixth operation
// (action 18). The counts survive restarts in the user defaults.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"

inline constexpr const char* kOBSocialOpDictionaryKey = "OBSocialOpDictioanry";
inline constexpr const char* kOBSocialOpCountKey = "OBSocialOpCount";
inline constexpr std::int32_t kOBSocialOpReportEvery = 6;

class OBSocialOpAnalytics {
 public:
  OBSocialOpAnalytics();
  static std::shared_ptr<OBSocialOpAnalytics> shareInstance();

  static void postSocialAnalytics(const std::string& code);
  static void postSocialAnalytics(const std::string& code, const std::optional<std::string>& fromSourceOpType);
  static void postSocialAnalytics(const std::string& code, const std::optional<std::string>& fromSourceOpType,
                                  const std::optional<std::string>& snsName);
  static void postSocialAnalyticsForSns(const std::string& code, const std::optional<std::string>& snsName);

  const os::Dictionary& opDictionary() const { return opDictionary_; }
  std::int32_t count() const { return count_; }

 private:
  void record(const std::string& code, const std::optional<std::string>& snsName);

  os::Dictionary opDictionary_;
  std::int32_t count_ = 0;
};
