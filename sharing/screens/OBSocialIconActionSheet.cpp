#include "sharing/screens/OBSocialIconActionSheet.h"

#include <cmath>

#include "os/core/Log.h"
#include "os/graphics/BitmapContext.h"
#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/ScrollView.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"

namespace {

constexpr double kCell = 80;
constexpr double kMinimumCellWidth = 70;
constexpr const char* kNotAString =
    "shareToSnsNames error!! You should set NSString in the snsNames, like @[OBShareToSina,OBShareToVelmora,OBShareToQzone]";

// Descriptors made by the registry carry their name localized already; others carry the key.
std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  std::string text = bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
  return text.empty() ? key : text;
}

bool landscape() {
  auto app = os::Application::shared();
  if (!app) return false;
  auto o = app->statusBarOrientation();
  return o == os::InterfaceOrientation::LandscapeLeft || o == os::InterfaceOrientation::LandscapeRight;
}

os::Size screenSize() {
  os::Size size = os::Screen::main().bounds().size;
  if (landscape()) std::swap(size.width, size.height);
  return size;
}

}  // namespace

OBSocialIconActionSheet::OBSocialIconActionSheet(const os::Array& items, ActionSheetHandler handler)
    : os::View(os::Rect(0, 0, 200, 200)), actionSheetHandler(std::move(handler)), snsNames_(items) {
  setBackgroundColor(os::Color::clear());
  auto config = OBSocialConfigInternal::shareInstance();
  backgroundImageView_ = std::make_shared<os::ImageView>();
  if (config->socialTheme() != 0) {
    backgroundImageView_->setBackgroundColor(os::Color::white());
  } else {
    backgroundImageView_->setImage(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_actionsheet_panel"));
  }
  backgroundImageView_->setUserInteractionEnabled(true);
  actionSheetBackground_ = std::make_shared<os::ScrollView>();
  actionSheetBackground_->setShowsHorizontalScrollIndicator(true);
  actionSheetBackground_->setContentSize(os::Size{0, 0});
  actionSheetBackground_->setPagingEnabled(true);
  actionSheetBackground_->addSubview(backgroundImageView_);
  addSubview(actionSheetBackground_);
  buildItems(items);
}

void OBSocialIconActionSheet::attachTap(const std::shared_ptr<os::View>& view) {
  std::weak_ptr<OBSocialIconActionSheet> weakSelf = self();
  auto tap = std::make_shared<os::TapGestureRecognizer>([weakSelf](os::GestureRecognizer& recognizer) {
    auto self = weakSelf.lock();
    if (self && recognizer.view()) self->actionToSnsButton(*recognizer.view());
  });
  view->setUserInteractionEnabled(true);
  view->addGestureRecognizer(tap);
}

void OBSocialIconActionSheet::buildItems(const os::Array& items) {
  for (const auto& item : items) {
    if (!item.isString()) {
      os::log(kNotAString);
      continue;
    }
    auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*item.string());
    if (!platform) continue;
    auto button = os::Button::buttonWithType(os::ButtonType::Custom);
    button->setImage(os::imageNamed(platform->bigImageName), os::kControlStateNormal);
    button->setTag(100 + platform->shareToType);
    actionSheetBackground_->addSubview(button);
    auto caption = std::make_shared<os::Label>(os::Rect(0, 0, 70, 20));
    caption->setBackgroundColor(os::Color::clear());
    caption->setTextAlignment(os::TextAlignment::Center);
    caption->setFont(os::Font::systemFont(11));
    caption->setTag(200 + platform->shareToType);
    caption->setHidden(true);
    caption->setText(localized(platform->displayName));
    actionSheetBackground_->addSubview(caption);
  }
}

void OBSocialIconActionSheet::setSnsNames(os::Array names) {
  snsNames_ = std::move(names);
  setNeedsLayout();
  setNeedsDisplay();
}

void OBSocialIconActionSheet::setSnsNames(const std::vector<std::string>& names) {
  os::Array list;
  for (const auto& name : names) list.emplace_back(name);
  setSnsNames(std::move(list));
}

void OBSocialIconActionSheet::showInView(const std::shared_ptr<os::View>& host) {
  if (!host) return;
  // Taps reach the icons only once the sheet sits in a window's tree; attached here, not in the
  // constructor, because a view cannot hand out weak references to itself before it is owned.
  for (const auto& view : actionSheetBackground_->subviews())
    if (view->tag() > 100 && view->gestureRecognizers().empty()) attachTap(view);
  const os::Size screen = screenSize();
  setCenter(os::Point{screen.width * 0.5, screen.height * 1.5});
  auto overlay = std::make_shared<os::View>(os::Rect(0, 0, host->frame().size.width, host->frame().size.height));
  overlay->setBackgroundColor(os::Color::rgba(0, 0, 0, 0));
  overlay->setTag(kOBSocialIconSheetOverlayTag);
  overlay->addSubview(self());
  std::weak_ptr<OBSocialIconActionSheet> weakSelf = self();
  std::weak_ptr<os::View> weakOverlay = overlay;
  overlay->addGestureRecognizer(std::make_shared<os::TapGestureRecognizer>([weakSelf, weakOverlay](os::GestureRecognizer& r) {
    auto self = weakSelf.lock();
    auto backdrop = weakOverlay.lock();
    if (!self || !backdrop) return;
    // Only the darkened area outside the panel closes it.
    if (self->frame().contains(r.locationInView(backdrop.get()))) return;
    self->dismiss();
  }));
  host->addSubview(overlay);
  setNeedsLayout();
  setNeedsDisplay();
  os::View::animate(0.3, 0, 0x20000, [this, overlay, screen] {
    overlay->setBackgroundColor(os::Color::rgba(0, 0, 0, 0.5));
    setCenter(os::Point{screen.width * 0.5, screen.height * 0.5});
  });
}

void OBSocialIconActionSheet::dismiss() {
  if (dismissing_) return;
  auto overlayHost = superview();
  if (!overlayHost) return;
  dismissing_ = true;
  const os::Size screen = screenSize();
  std::weak_ptr<OBSocialIconActionSheet> weakSelf = self();
  std::shared_ptr<os::View> overlay = overlayHost->tag() == kOBSocialIconSheetOverlayTag ? overlayHost : nullptr;
  os::View::animate(
      0.3, 0, 0x20000,
      [this, overlay, screen] {
        if (overlay) overlay->setBackgroundColor(os::Color::rgba(0, 0, 0, 0));
        setCenter(os::Point{screen.width * 0.5, screen.height + frame().size.height * 0.5});
      },
      [weakSelf, overlayHost](bool) {
        auto self = weakSelf.lock();
        overlayHost->removeFromSuperview();
        if (!self) return;
        self->removeFromSuperview();
        self->dismissing_ = false;
        // A sheet nobody asked to hear about simply goes.
        if (auto done = self->dismissCompletion) done();
      });
}

void OBSocialIconActionSheet::actionToSnsButton(const os::View& tapped) {
  const int tag = tapped.tag();
  const int type = tag >= 200 ? tag - 200 : tag - 100;
  auto name = OBSocialSnsPlatformManager::getSnsPlatformString(type);
  dismiss();
  if (name && actionSheetHandler) actionSheetHandler(*name);
  // The web-authorised platforms open a screen of their own at once: the sheet goes now.
  if (type >= 10 && type <= 14) setHidden(true);
}

OBSocialIconActionSheet::Grid OBSocialIconActionSheet::gridFor(std::size_t n, double width, double height,
                                                               double baseHeight, double heightLimit) {
  Grid grid;
  auto rowsFor = [n](int columns) { return static_cast<int>((n + columns - 1) / columns); };
  grid.rows = rowsFor(grid.columns);
  while (baseHeight + grid.rows * kCell > height || grid.rows * kCell > heightLimit) {
    ++grid.columns;
    grid.rows = rowsFor(grid.columns);
    if (width / grid.columns < kMinimumCellWidth) break;
  }
  // A search that ran out of width keeps its last grid, every cell of one width.
  grid.cellWidth = width / grid.columns;
  return grid;
}

void OBSocialIconActionSheet::layoutSubviews() {
  os::View::layoutSubviews();
  auto app = os::Application::shared();
  const bool wide = landscape();
  const double base =
      (app ? (wide ? app->statusBarFrame().size.width : app->statusBarFrame().size.height) : 0) + 90;
  const double limit = wide ? 240 : 320;
  os::Size area = os::Screen::main().applicationFrame().size;
  if (wide) std::swap(area.width, area.height);

  auto overlay = superview();
  if (overlay) {
    if (auto host = overlay->superview()) {
      const os::Size hostSize = host->bounds().size;
      if (hostSize.height > hostSize.width)
        overlay->setFrame(wide ? os::Rect(0, 0, hostSize.height, hostSize.width) : os::Rect(0, 0, hostSize.width, hostSize.height));
    }
  }

  const Grid grid = gridFor(snsNames_.size(), area.width, area.height, base, limit);
  columns_ = grid.columns;
  rows_ = grid.rows;
  cellWidth_ = grid.cellWidth;
  const double panel = rows_ * kCell;
  const double superHeight = overlay ? overlay->bounds().size.height : area.height;
  setFrame(os::Rect(0, superHeight - panel, area.width, panel));
  backgroundImageView_->setFrame(os::Rect(0, 0, area.width, panel));
  actionSheetBackground_->setFrame(os::Rect(0, 0, area.width, area.height));
  actionSheetBackground_->setContentSize(os::Size{area.width, panel});

  os::Label caption;
  const os::Size templateSize = caption.frame().size;
  caption.setTextAlignment(os::TextAlignment::Center);
  caption.setFont(os::Font::systemFont(11));
  caption.setTextColor(os::Color::darkGray());
  auto config = OBSocialConfigInternal::shareInstance();
  if (config->gridViewConfig) config->gridViewConfig(nullptr, backgroundImageView_.get(), &caption);

  for (std::size_t i = 0; i < snsNames_.size(); ++i) {
    if (!snsNames_[i].isString()) {
      os::log(kNotAString);
      break;
    }
    const int type = OBSocialSnsPlatformManager::getSnsPlatformType(*snsNames_[i].string());
    if (type == 0) continue;  // a platform nobody registered keeps its cell empty
    const int c = static_cast<int>(i) % columns_;
    const int r = static_cast<int>(i) / columns_;
    const double x0 = (cellWidth_ - kCell) / 2 + cellWidth_ * c;
    if (auto button = actionSheetBackground_->viewWithTag(100 + type))
      button->setFrame(os::Rect(x0, r * kCell - 8, kCell, kCell));
    if (auto label = std::dynamic_pointer_cast<os::Label>(actionSheetBackground_->viewWithTag(200 + type))) {
      if (auto platform = OBSocialSnsPlatformManager::getSocialPlatformWithName(*snsNames_[i].string()))
        label->setText(localized(platform->displayName));
      os::Size size = label->frame().size;
      // The template's size counts only once the styling block gave it one.
      if (caption.frame().size.width != templateSize.width || caption.frame().size.height != templateSize.height)
        size = caption.frame().size;
      label->setFrame(os::Rect(x0 + 5, r * kCell + 47, size.width, size.height));
      label->setFont(caption.font());
      label->setTextColor(caption.textColor());
      label->setTextAlignment(caption.textAlignment());
      label->setBackgroundColor(os::Color::clear());
      label->setHidden(caption.isHidden());
    }
  }
}

void OBSocialIconActionSheet::drawRect(const os::Rect& rect) {
  const os::Size size = backgroundImageView_->bounds().size;
  const int w = static_cast<int>(std::ceil(size.width));
  const int h = static_cast<int>(std::ceil(size.height));
  if (w > 0 && h > 0 && columns_ > 0) {
    os::BitmapContext context(w, h);
    context.setLineWidth(1);
    context.setStrokeColor(os::Color::rgba(0.9725, 0.9725, 0.9725, 1));
    for (std::size_t i = 0; i < snsNames_.size(); ++i) {
      if (!snsNames_[i].isString()) break;
      const int c = static_cast<int>(i) % columns_;
      const int r = static_cast<int>(i) / columns_;
      context.moveTo(cellWidth_ * c, (r + 1) * kCell + 1);
      context.addLineTo(cellWidth_ * c + cellWidth_, (r + 1) * kCell + 1);
      context.moveTo(cellWidth_ * (c + 1), r * kCell + 1);
      context.addLineTo(cellWidth_ * (c + 1), (r + 1) * kCell + 1);
    }
    auto config = OBSocialConfigInternal::shareInstance();
    if (config->gridViewConfig) config->gridViewConfig(&context, nullptr, nullptr);
    context.strokePath();
    // A few lines on a clear ground: kept as a palette picture, a quarter of the bitmap's size.
    backgroundImageView_->setImage(os::Image::create(os::Bitmap::packedCopy(context.bitmap()), context.scale()));
  }
  os::View::drawRect(rect);
}
