#pragma once
// The share action of the article and album screens: checks the link and the title, picks the
// picture (the article's list icon when the image cache holds it, else the application icon),
// configures the messenger, QQ and Sina Weibo handlers with the reader's identities and opens
// the sharing component's icon sheet. It is the sheet's delegate and answers none of its
// callbacks.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "sharing/service/OBSocialUIDelegate.h"

namespace os {
class Image;
class ViewController;
}  // namespace os

class VXReaderContext;

class VXShareHelper : public OBSocialUIDelegate, public std::enable_shared_from_this<VXShareHelper> {
 public:
  static std::shared_ptr<VXShareHelper> share();
  // The share action of a given context, whose HUD it shows (share() asks the current one).
  static std::shared_ptr<VXShareHelper> share(VXReaderContext& context);
  explicit VXShareHelper(std::weak_ptr<VXReaderContext> context) : context_(std::move(context)) {}

  // link, title and picture address as the screen holds them (a missing one is null).
  void socialShare(const os::Value& link, const os::Value& title, const os::Value& iconUrl,
                   const std::shared_ptr<os::ViewController>& vc);

  // The icon sheet's platforms, in order.
  static const std::vector<std::string>& platforms();
  // The title immediately followed by the link.
  static std::string shareText(const std::string& title, const std::string& link);
  // The picture shared for an address: the disk-cached image, else the bundle's "Icon".
  static std::shared_ptr<os::Image> shareImage(const os::Value& iconUrl);

 private:
  void showHud(const std::string& text, const std::shared_ptr<os::ViewController>& vc) const;

  // Weak: the context keeps this helper.
  std::weak_ptr<VXReaderContext> context_;
};
