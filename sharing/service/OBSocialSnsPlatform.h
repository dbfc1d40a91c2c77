#pragma once
// One share platform: its name and type, the texts and icons the sheet shows, how it authorises,
// and what happens when the reader picks it or has to log in to it.
#include <functional>
#include <memory>
#include <string>

#include "sharing/service/OBSocialJob.h"

namespace os {
class ViewController;
}
class OBSocialControllerService;
class OBSocialSnsPlatform;

// The platform's share and login steps that lead into the sharing screens.
class OBSocialSnsPlatformInternal {
 public:
  explicit OBSocialSnsPlatformInternal(std::weak_ptr<OBSocialSnsPlatform> platform) : platform_(std::move(platform)) {}
  virtual ~OBSocialSnsPlatformInternal() = default;

  // "0" before a login, "1" before a share.
  std::string shareStatus;

  // The screens that carry these steps out come with the platform handlers; until one is given
  // to the platform, the steps end here.
  virtual void snsLoginHandlerrWithController(const std::shared_ptr<os::ViewController>& controller,
                                              const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                                              OBSocialCompletion loginCompletion,
                                              const std::optional<std::string>& sourceOpType) {}
  virtual void snsClickHandlerWithController(const std::shared_ptr<os::ViewController>& controller,
                                             const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                                             const std::optional<std::string>& sourceOpType) {}

  std::shared_ptr<OBSocialSnsPlatform> platform() const { return platform_.lock(); }

 private:
  std::weak_ptr<OBSocialSnsPlatform> platform_;
};

class OBSocialSnsPlatform : public std::enable_shared_from_this<OBSocialSnsPlatform> {
 public:
  using SnsClickHandler = std::function<void(const std::shared_ptr<os::ViewController>& presentingController,
                                             const std::shared_ptr<OBSocialControllerService>& service, bool isPresent)>;
  using LoginClickHandler =
      std::function<void(const std::shared_ptr<os::ViewController>& presentingController,
                         const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                         OBSocialCompletion completion)>;

  // Type 0, and a login handler that only says the platform cannot log in.
  explicit OBSocialSnsPlatform(std::string platformName);

  std::string platformName;
  std::string displayName;
  std::string loginName;
  int shareToType = 0;
  std::string bigImageName, smallImageName, smallImageOffName;
  std::string oauthBaseURLString, oauthCallBackPath;
  bool needLogin = false;
  bool haveWebViewAuth = false;
  SnsClickHandler snsClickHandler;
  LoginClickHandler loginClickHandler;

  // Made on first read when none was given.
  std::shared_ptr<OBSocialSnsPlatformInternal> platformInternal();
  void setPlatformInternal(std::shared_ptr<OBSocialSnsPlatformInternal> internal) { internal_ = std::move(internal); }

 private:
  std::shared_ptr<OBSocialSnsPlatformInternal> internal_;
};
