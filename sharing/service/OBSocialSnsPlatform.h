#pragma once
// One share platform: its name and type, the texts and icons the sheet shows, how it authorises,
// and what happens when the reader picks it or has to log in to it.
#include <functional>
#include <memory>
#include <string>

#include "sharing/handlers/OBSocialSnsHandlerDelegate.h"
#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialUIDelegate.h"

namespace os {
class ViewController;
}
class OBSocialControllerService;
class OBSocialResponseEntity;
class OBSocialSnsPlatform;

// The platform's share and login steps that lead into the sharing screens. While a login runs it
// stands in front of the caller's UI delegate on the controller service, sees the results first
// and forwards what concerns the caller.
class OBSocialSnsPlatformInternal : public OBSocialUIDelegate,
                                    public std::enable_shared_from_this<OBSocialSnsPlatformInternal> {
 public:
  explicit OBSocialSnsPlatformInternal(std::weak_ptr<OBSocialSnsPlatform> platform);
  ~OBSocialSnsPlatformInternal() override = default;

  // "1" while a share click waits for a login, "0" otherwise.
  std::string shareStatus = "0";
  OBSocialCompletion loginCompletion;
  // The caller's UI delegate, set aside while this object stands in front of it.
  std::weak_ptr<OBSocialUIDelegate> socialUIDelegate;
  // The platform handler that can log in by single sign-on.
  std::shared_ptr<OBSocialSnsHandlerDelegate> socialLoginDelegate;

  virtual void snsLoginHandlerrWithController(const std::shared_ptr<os::ViewController>& controller,
                                              const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                                              OBSocialCompletion loginCompletion,
                                              const std::optional<std::string>& sourceOpType);
  virtual void snsClickHandlerWithController(const std::shared_ptr<os::ViewController>& controller,
                                             const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                                             const std::optional<std::string>& sourceOpType);
  void performLoginCompletion(const std::shared_ptr<OBSocialResponseEntity>& response);

  void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) override;
  void didCloseUIViewController(int fromViewControllerType) override;
  bool closeOauthWebViewController(const std::shared_ptr<os::NavigationController>& navigationController,
                                   const std::shared_ptr<OBSocialControllerService>& socialControllerService) override;

  std::shared_ptr<OBSocialSnsPlatform> platform() const { return platform_.lock(); }
  const std::string& platformName() const { return platformName_; }
  int shareToType() const;

 private:
  void openShareEditor(const std::shared_ptr<os::ViewController>& controller,
                       const std::shared_ptr<OBSocialControllerService>& service, bool isPresent,
                       const std::string& sourceOpType);
  void giveDelegateBack(const std::shared_ptr<OBSocialControllerService>& service);

  std::weak_ptr<OBSocialSnsPlatform> platform_;
  std::string platformName_;
  std::weak_ptr<OBSocialControllerService> service_;
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
