#include "news/list/VXNewsStyleCell.h"

#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ImageCommon.h"
#include "ui/images/ImageViewWebCache.h"

VXNewsStyleCell::VXNewsStyleCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier), context_(context) {
  contentView()->setBackgroundColor(os::Color::rgba(245.0 / 255, 245.0 / 255, 245.0 / 255, 1));
}

void VXNewsStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  double height = item ? item->height().value_or(0) : 0;
  contentView()->setFrame(os::Rect{0, 0, os::Screen::main().bounds().size.width, height});
}

std::shared_ptr<VXNewsConfig> VXNewsStyleCell::textStyle() const {
  if (auto context = context_.lock()) return VXNewsConfig::share(*context);
  return std::make_shared<VXNewsConfig>();
}

void VXNewsCellLoadIcon(const std::shared_ptr<os::ImageView>& view, const std::string& url, const VXNewsConfig& style) {
  const os::Rect clip{0, 0, 2 * style.cellIconWidth(), 2 * style.cellIconHeight()};
  BNShowCachedImageOrLoad(view, url, os::imageNamed("placeholder"), BNImageLoadClipToView,
                          [clip](const BNImagePtr& image) { return imageClip(image, clip); });
}
