#pragma once
// The application's push configuration, read from its "PushConfig.plist": the application key
// (letters and digits, kept lower-cased), the channel and the push environment it asks for.
#include <optional>
#include <string>

#include "push/network/address/DUVServiceEndpoints.h"

class DUVPushConfig {
 public:
  // False, with an alert in the log, when the file is missing or unusable.
  bool loadWithUrl(const std::optional<std::string>& path);

  const std::string& applicationKey() const { return applicationKey_; }
  const std::string& pushChanel() const { return pushChanel_; }
  // 0 not given, 1 development, 2 production.
  int configApsEnvironment() const { return configApsEnvironment_; }
  // Where the push service lives (optional keys of the same file).
  DUVServiceEndpoints& serviceEndpoints() { return serviceEndpoints_; }

  // Every byte of the key's UTF-8 form an ASCII letter or digit.
  static bool isValidAppKey(const std::string& key);

 private:
  std::string applicationKey_;
  std::string pushChanel_;
  int configApsEnvironment_ = 0;
  DUVServiceEndpoints serviceEndpoints_;
};

// The push environment named in a provisioning profile's "aps-environment" entitlement:
// 1 development, 2 production, -1 no profile, -2 unreadable, -3 no entitlement, -4 neither word.
int DUVApsEnvironmentOfProfile(const std::optional<std::string>& path);
