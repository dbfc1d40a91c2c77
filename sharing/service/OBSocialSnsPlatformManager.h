#pragma once
// The table of share platforms: descriptors by name and type, the five platforms that authorise
// through the sharing service's web page, their standard click and login handlers, and the list
// of platforms to offer, as configured.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "os/core/Value.h"

class OBSocialSnsPlatform;
class OBSocialXToast;

// How long the account-request toast of addMaskView stays, in milliseconds.
inline constexpr int kOBSocialMaskToastDuration = 30000;

class OBSocialSnsPlatformManager {
 public:
  OBSocialSnsPlatformManager();
  static std::shared_ptr<OBSocialSnsPlatformManager> sharedInstance();

  static std::shared_ptr<OBSocialSnsPlatform> getSocialPlatformWithName(const std::string& name);
  // The name of the platform of that type; absent (and a console line) when none has it.
  static std::optional<std::string> getSnsPlatformString(int type);
  // The type of the named platform; 0 (and a console line) when none has the name.
  static int getSnsPlatformType(const std::string& name);
  static std::optional<std::string> getSnsPlatformStringFromIndex(std::size_t index);

  std::shared_ptr<OBSocialSnsPlatform> getSnsPlatformWithName(const std::string& name, bool logMissing = true) const;
  std::shared_ptr<OBSocialSnsPlatform> getSnsPlatformWithType(int type) const;
  std::shared_ptr<OBSocialSnsPlatform> getSnsPlatformWithIndex(std::size_t index);

  // The configured list, its names flattened one level, and only the web-authorised ones.
  os::Array allSnsArray() const;
  std::vector<std::string> allSnsValuesArray();
  std::vector<std::string> socialSnsArray();

  void makeLoginHandlerWithPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform);
  void makeSnsClickHandlerWithPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform);
  static std::shared_ptr<OBSocialSnsPlatform> makeSNSDescriptorWithType(int type);

  // Adds a descriptor under its name (handlers and the configuration do; a name registered
  // already is replaced).
  void registerPlatform(const std::shared_ptr<OBSocialSnsPlatform>& platform);
  int highestPlatformType() const;
  // Every registered descriptor, in registration order.
  std::vector<std::shared_ptr<OBSocialSnsPlatform>> allPlatforms() const;

  // Shows the localized "label_request_account" as a toast for half a minute, held until
  // removeMaskView takes it down.
  void addMaskView();
  void removeMaskView();
  const std::shared_ptr<OBSocialXToast>& toast() const { return toast_; }

 private:
  std::vector<std::pair<std::string, std::shared_ptr<OBSocialSnsPlatform>>> allSnsPlatformDictionary_;
  std::vector<std::string> webPlatformNames_;  // the keys of the web-authorisation dictionary
  std::vector<std::string> allSnsValuesArray_, socialSnsArray_;
  std::shared_ptr<OBSocialXToast> toast_;
};
