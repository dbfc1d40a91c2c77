#include "news/list/VXNewsStyleCell.h"

#include "news/store/VXNewsConfig.h"
#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ImageCommon.h"
#include "ui/images/ImageViewWebCache.h"

VXNewsStyleCell::VXNewsStyleCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  contentView()->setBackgroundColor(os::Color::rgba(245.0 / 255, 245.0 / 255, 245.0 / 255, 1));
}

void VXNewsStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  double height = item ? item->height().value_or(0) : 0;
  contentView()->setFrame(os::Rect{0, 0, os::Screen::main().bounds().size.width, height});
}

void VXNewsCellLoadIcon(const std::shared_ptr<os::ImageView>& view, const std::string& url) {
  auto config = VXNewsConfig::share();
  const os::Rect clip{0, 0, 2 * config->cellIconWidth(), 2 * config->cellIconHeight()};
  BNShowCachedImageOrLoad(view, url, os::imageNamed("placeholder"), BNImageLoadClipToView,
                          [clip](const BNImagePtr& image) { return imageClip(image, clip); });
}
