#include "news/ads/VXAdCell.h"

#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "ui/images/ImageViewWebCache.h"

VXAdCell::VXAdCell(const std::string& identifier) : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  iconView_ = std::make_shared<os::ImageView>();
  iconView_->setBackgroundColor(os::Color::clear());
  iconView_->layer().setBorderWidth(1);
  iconView_->layer().setBorderColor(os::Color::clear());
  iconView_->setClipsToBounds(true);
  iconView_->layer().setCornerRadius(11);
  nameLabel_ = std::make_shared<os::Label>();
  nameLabel_->setFont(os::Font::systemFont(16));
  summaryLabel_ = std::make_shared<os::Label>();
  summaryLabel_->setFont(os::Font::systemFont(13));
  summaryLabel_->setTextColor(os::Color::rgba(107.0 / 255, 107.0 / 255, 107.0 / 255, 1));
  contentView()->addSubview(iconView_);
  contentView()->addSubview(nameLabel_);
  contentView()->addSubview(summaryLabel_);
}

void VXAdCell::setContent(const std::shared_ptr<VXAdDO>& ad) {
  dataObject_ = ad;
  if (!ad) return;
  BNShowCachedImageOrLoad(iconView_, ad->icon(), os::imageNamed("placeholder"));
  nameLabel_->setText(ad->name());
  summaryLabel_->setText(ad->summary());
}

void VXAdCell::layoutSubviews() {
  os::TableViewCell::layoutSubviews();
  const double width = os::Screen::main().bounds().size.width - 100;
  iconView_->setFrame(os::Rect{15, 12, 50, 50});
  nameLabel_->setFrame(os::Rect{80, 12, width, 20});
  summaryLabel_->setFrame(os::Rect{80, 40, width, 20});
}
