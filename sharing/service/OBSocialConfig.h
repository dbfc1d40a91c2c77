#pragma once
// The sharing component's settings: the platforms to offer, the look of its screens (a theme and
// three styling blocks), and a few switches. OBSocialConfigInternal is the store the screens,
// the registry and the handlers read; OBSocialConfig is the application's door to it, and counts
// each change.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/graphics/Color.h"
#include "os/graphics/Geometry.h"

namespace os {
class Button;
class GraphicsContext;
class ImageView;
class Label;
class NavigationBar;
class NavigationItem;
class TableViewCell;
}  // namespace os
class OBSocialSnsPlatform;

// The views a navigation-bar block may dress; any of them may be absent.
struct OBSNavigationBarViews {
  os::NavigationBar* navigationBar = nullptr;
  os::Button* closeButton = nullptr;
  os::Button* backButton = nullptr;
  os::Button* rightButton = nullptr;
  os::Button* extraButton = nullptr;
  os::NavigationItem* navigationItem = nullptr;
};
using OBSNavigationBarConfig = std::function<void(const OBSNavigationBarViews& views)>;
using OBSTableViewCellConfig = std::function<void(os::TableViewCell* cell)>;
using OBSGridViewConfig =
    std::function<void(os::GraphicsContext* context, os::ImageView* backgroundImageView, os::Label* captionLabel)>;

// An entry of the platform list: a name, or a group of names shown together.
using OBSPlatformNameEntry = os::Value;

class OBSocialConfigInternal {
 public:
  OBSocialConfigInternal();
  static std::shared_ptr<OBSocialConfigInternal> shareInstance();

  os::Array snsPlatformNames() const;
  void setSnsPlatformNames(os::Array names);
  os::Color defaultColor() const;
  void setDefaultColor(os::Color color);
  bool shouldCommentWithLocation = true;
  bool shouldCommentWithShare = true;
  bool shouldShareSynchronous = false;
  bool supportSinaSSO = false;
  bool supportVelmoraSSO = false;
  bool supportQzoneSSO = false;
  bool shareQzoneWithQQSDK = true;
  int qqType = 0;
  os::Rect boundsForiPad{};
  void setBoundsSizeForiPad(os::Size size) { boundsForiPad = os::Rect{0, 0, size.width, size.height}; }
  int socialTheme() const { return socialTheme_; }
  void setSocialTheme(int theme);
  unsigned socialInterfaceOrientations = 2;
  os::Dictionary followSnsUids;
  OBSNavigationBarConfig navigationbarConfig;
  OBSTableViewCellConfig tableViewCellConfig;
  OBSGridViewConfig gridViewConfig;

  // Whether the orientation's bit is set in the mask.
  bool shouldAutorotateToInterfaceOrientation(int orientation) const;

 private:
  mutable std::mutex mutex_;
  os::Array snsPlatformNames_;
  os::Color defaultColor_ = os::Color::white();
  int socialTheme_ = 1;
};

class OBSocialConfig {
 public:
  // Making it puts the component's toasts at the top of the screen.
  OBSocialConfig();
  static std::shared_ptr<OBSocialConfig> shareInstance();

  static void setTheme(int theme);
  static void setSnsPlatformNames(os::Array names);
  static void setSupportedInterfaceOrientations(unsigned mask);
  static void setFollowWeiboUids(os::Dictionary uids);
  // Registers platforms not registered yet; those of type 0 are numbered from one past the
  // highest type in use (28 at least).
  static void addSocialSnsPlatform(const std::vector<std::shared_ptr<OBSocialSnsPlatform>>& platforms);
  static void setDefaultColor(os::Color color);
  static void setBoundsSizeForiPad(os::Size size);
  static void setShouldShareSynchronous(bool on);
  static void setShouldCommentWithShare(bool on);
  static void setShouldCommentWithLocation(bool on);
  static void setSupportVelmoraSSO(bool on, const std::string& importClass);
  static void setShareGridViewTheme(OBSGridViewConfig block);
  static void setNavigationBarConfig(OBSNavigationBarConfig block);
  static void setTableViewCellConfig(OBSTableViewCellConfig block);
  static void setFinishToastIsHidden(bool hidden, int position);
};

inline constexpr int kOBSocialFirstCustomPlatformType = 28;

// Loads the optional frameworks on a background queue, once for the component's life; what is
// missing is logged and the component goes on without it. Returns at once. The application's
// start-up starts it when it gives the component its key.
void OBSocialLoadOptionalFrameworks();
