#pragma once
// The sharing component's public entry: the share icon sheet over one of the application's
// screens, the share list as a modal screen, the URLs another application reopens this one
// with, and the moment the application turns active. The facade builds no screen itself: it
// stores the share content and the caller's UI delegate on the controller service, asks it for
// the screen and places it. Each call is also written to the process's ServiceCallLog under
// "OBSocialSnsService".
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/URL.h"

namespace os {
class Image;
class ViewController;
}  // namespace os
class OBSocialControllerService;
class OBSocialUIDelegate;
class WXApiDelegate;

class OBSocialSnsService {
 public:
  static std::shared_ptr<OBSocialSnsService> sharedInstance();

  // Does nothing.
  static void applicationDidBecomeActive();

  // Hands the URL to the platform handler waiting for an answer; true when it took it. The
  // messenger delegate plays no part.
  static bool handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>& wxApiDelegate);
  static bool handleOpenURL(const os::URL& url) { return handleOpenURL(url, {}); }

  // Shows the icon sheet with the platforms in the given order (every configured platform when
  // nothing is given) over the controller, sharing the text and image. A missing app key leaves
  // the one set before. The controller and the delegate are not kept alive by the sheet.
  static void presentSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller,
                                      const std::optional<std::string>& appKey,
                                      const std::optional<std::string>& shareText,
                                      const std::shared_ptr<os::Image>& shareImage,
                                      const std::optional<std::vector<std::string>>& shareToSnsNames,
                                      const std::weak_ptr<OBSocialUIDelegate>& delegate);
  // Presents the share list modally over the controller.
  static void presentSnsController(const std::shared_ptr<os::ViewController>& controller,
                                   const std::optional<std::string>& appKey, const std::optional<std::string>& shareText,
                                   const std::shared_ptr<os::Image>& shareImage,
                                   const std::optional<std::vector<std::string>>& shareToSnsNames,
                                   const std::weak_ptr<OBSocialUIDelegate>& delegate);

  void setSocialDataWithController(const std::shared_ptr<os::ViewController>& controller,
                                   const std::optional<std::string>& appKey, const std::optional<std::string>& shareText,
                                   const std::shared_ptr<os::Image>& shareImage,
                                   const std::weak_ptr<OBSocialUIDelegate>& delegate);
  void showSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller, const std::optional<std::string>& appKey,
                            const std::optional<std::string>& shareText, const std::shared_ptr<os::Image>& shareImage,
                            const std::optional<std::vector<std::string>>& shareToSnsStrings,
                            const std::weak_ptr<OBSocialUIDelegate>& delegate);
  void presentSnsController(const std::shared_ptr<os::ViewController>& controller, const std::optional<std::string>& appKey,
                            const std::optional<std::string>& shareText, const std::shared_ptr<os::Image>& shareImage,
                            const std::optional<std::vector<std::string>>& shareToSnsStrings,
                            const std::weak_ptr<OBSocialUIDelegate>& delegate, bool);

  const std::shared_ptr<OBSocialControllerService>& socialControllerService() const { return socialControllerService_; }
  void setSocialControllerService(std::shared_ptr<OBSocialControllerService> service) {
    socialControllerService_ = std::move(service);
  }
  std::shared_ptr<os::ViewController> presentingViewController() const { return presentingViewController_.lock(); }

  // The object arguments of a presentSnsIconSheetView call, kept in the `objects` of its
  // ServiceCallLog entry (the plain ones are its `arguments`: "appKey", "shareText",
  // "shareToSnsNames", each null when not given).
  struct IconSheetObjects {
    std::weak_ptr<os::ViewController> controller;
    std::shared_ptr<os::Image> shareImage;
    std::weak_ptr<OBSocialUIDelegate> delegate;
  };

 private:
  std::vector<std::string> namesOrConfigured(const std::optional<std::vector<std::string>>& names) const;

  std::shared_ptr<OBSocialControllerService> socialControllerService_;
  std::weak_ptr<os::ViewController> presentingViewController_;
};
