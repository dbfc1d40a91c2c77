#pragma once
// The panel of platform icons that slides up from the bottom of the screen when the application
// shares something: one icon with its caption per platform in a grid, over a darkened backdrop
// that closes it when tapped. The tapped platform's name goes to the handler the controller
// service gives it.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/views/View.h"

namespace os {
class ImageView;
class Label;
class ScrollView;
class ViewController;
}  // namespace os
class OBSocialControllerService;

inline constexpr int kOBSocialIconSheetOverlayTag = 100;

class OBSocialIconActionSheet : public os::View {
 public:
  using ActionSheetHandler = std::function<void(const std::string& platformName)>;

  // Entries that are not strings are reported and skipped; only platforms named here get an icon.
  OBSocialIconActionSheet(const os::Array& items, ActionSheetHandler handler);
  std::string className() const override { return "OBSocialIconActionSheet"; }

  const os::Array& snsNames() const { return snsNames_; }
  void setSnsNames(os::Array names);
  void setSnsNames(const std::vector<std::string>& names);

  // Puts the sheet up over the host view, under a dimmed backdrop.
  void showInView(const std::shared_ptr<os::View>& host);
  // Takes it down; dismissCompletion runs once it is off the screen.
  void dismiss();
  // An icon (or its caption) was tapped.
  void actionToSnsButton(const os::View& tapped);

  ActionSheetHandler actionSheetHandler;
  std::function<void()> dismissCompletion;
  std::weak_ptr<os::ViewController> presentingViewController;
  std::weak_ptr<OBSocialControllerService> socialControllerService;

  // The grid last laid out: columns, rows and cell width.
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  double cellWidth() const { return cellWidth_; }

  // The grid search: columns and rows for n items in a frame of width w and height h, with the
  // base height and the height limit of the orientation.
  struct Grid {
    int columns = 4;
    int rows = 0;
    double cellWidth = 0;
  };
  static Grid gridFor(std::size_t n, double width, double height, double baseHeight, double heightLimit);

  void layoutSubviews() override;
  void drawRect(const os::Rect& rect) override;

 private:
  std::shared_ptr<OBSocialIconActionSheet> self() {
    return std::static_pointer_cast<OBSocialIconActionSheet>(shared_from_this());
  }
  void buildItems(const os::Array& items);
  void attachTap(const std::shared_ptr<os::View>& view);

  os::Array snsNames_;
  std::shared_ptr<os::ScrollView> actionSheetBackground_;
  std::shared_ptr<os::ImageView> backgroundImageView_;
  int columns_ = 0, rows_ = 0;
  double cellWidth_ = 0;
  bool dismissing_ = false;
};
