#include "news/article/VXNewsDetailImageCell.h"

#include "news/article/VXNewsDetailImageDO.h"
#include "news/store/VXNewsConfig.h"
#include "os/core/URL.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "ui/images/ImageViewWebCache.h"

VXNewsDetailImageCell::VXNewsDetailImageCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : VXNewsDetailBaseCell(identifier, context) {
  imageView_ = std::make_shared<os::ImageView>();
  imageView_->setBackgroundColor(os::Color::clear());
  imageView_->layer().setBorderColor(os::Color::clear());
  imageView_->layer().setBorderWidth(1);
  imageView_->setClipsToBounds(true);
  imageView_->layer().setCornerRadius(5);
  contentView()->addSubview(imageView_);
}

void VXNewsDetailImageCell::loadPicture(const std::shared_ptr<os::ImageView>& view, const std::string& url) {
  BNShowCachedImageOrLoad(view, url, os::imageNamed("placeholder"));
}

void VXNewsDetailImageCell::fill(const VXNewsDetailDO& row) { loadPicture(imageView_, row.content()); }

void VXNewsDetailImageCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  double m = textStyle()->detailInterval();
  auto image = std::dynamic_pointer_cast<VXNewsDetailImageDO>(dataObject_);
  double height = image ? image->imageHeight() : 0;
  imageView_->setFrame(os::Rect{m, 5, os::Screen::main().bounds().size.width - 2 * m, height});
}
