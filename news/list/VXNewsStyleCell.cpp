#include "news/list/VXNewsStyleCell.h"

#include "news/store/VXNewsConfig.h"
#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/views/Screen.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ImageCommon.h"
#include "ui/images/ImageViewWebCache.h"

namespace {

std::shared_ptr<os::Image> bundleImage(const std::string& name) {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return nullptr;
  return os::imageNamed(bundle->bundlePath(), name, os::Screen::main().scale());
}

}  // namespace

VXNewsStyleCell::VXNewsStyleCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  contentView()->setBackgroundColor(os::Color::rgba(245.0 / 255, 245.0 / 255, 245.0 / 255, 1));
}

void VXNewsStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  double height = item ? item->height().value_or(0) : 0;
  contentView()->setFrame(os::Rect{0, 0, os::Screen::main().bounds().size.width, height});
}

void VXNewsCellLoadIcon(const std::shared_ptr<os::ImageView>& view, const std::string& url) {
  // A load still running for the row this cell showed before must not land here later.
  sd_cancelCurrentImageLoad(view);
  auto config = VXNewsConfig::share();
  if (!url.empty()) {
    if (auto cached = BNImageCache::sharedImageCache()->imageFromDiskCacheForKey(url)) {
      view->setImage(imageClip(cached, os::Rect{0, 0, 2 * config->cellIconWidth(), 2 * config->cellIconHeight()}));
      return;
    }
  }
  sd_setImageWithURL(view, url.empty() ? std::nullopt : os::URL::parse(url), bundleImage("placeholder"),
                     BNImageLoadClipToView);
}
