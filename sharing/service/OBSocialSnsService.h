#pragma once
// The sharing component's public entry: the share icon sheet over one of the application's
// screens, the URLs another application reopens this one with, and the moment the application
// turns active.
//
// For now the screens and handlers behind it are not built: each operation writes what it was
// given to the process's ServiceCallLog under "OBSocialSnsService" and does nothing else.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/URL.h"

namespace os {
class Image;
class ViewController;
}  // namespace os
class OBSocialUIDelegate;
class WXApiDelegate;

class OBSocialSnsService {
 public:
  // Does nothing.
  static void applicationDidBecomeActive();

  // Hands the URL to the platform handler waiting for an answer; true when it took it. The
  // messenger delegate plays no part. No handler waits yet, so every URL is refused.
  static bool handleOpenURL(const os::URL& url, const std::weak_ptr<WXApiDelegate>& wxApiDelegate);

  // Shows the icon sheet with the platforms in the given order (every configured platform when
  // nothing is given) over the controller, sharing the text and image. A missing app key leaves
  // the one set before. The controller and the delegate are not kept alive by the sheet.
  static void presentSnsIconSheetView(const std::shared_ptr<os::ViewController>& controller,
                                      const std::optional<std::string>& appKey,
                                      const std::optional<std::string>& shareText,
                                      const std::shared_ptr<os::Image>& shareImage,
                                      const std::optional<std::vector<std::string>>& shareToSnsNames,
                                      const std::weak_ptr<OBSocialUIDelegate>& delegate);

  // The object arguments of a presentSnsIconSheetView call, kept in the `objects` of its
  // ServiceCallLog entry (the plain ones are its `arguments`: "appKey", "shareText",
  // "shareToSnsNames", each null when not given).
  struct IconSheetObjects {
    std::weak_ptr<os::ViewController> controller;
    std::shared_ptr<os::Image> shareImage;
    std::weak_ptr<OBSocialUIDelegate> delegate;
  };
};
