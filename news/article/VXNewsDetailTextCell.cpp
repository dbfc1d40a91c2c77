#include "news/article/VXNewsDetailTextCell.h"

#include "news/article/VXNewsDetailTextDO.h"
#include "news/store/VXNewsConfig.h"

VXNewsDetailTextCell::VXNewsDetailTextCell(const std::string& identifier) : VXNewsDetailBaseCell(identifier) {
  textLabel_ = std::make_shared<LXLabel>();
  textLabel_->setBackgroundColor(os::Color::clear());
  textLabel_->setTextColor(VXNewsConfig::share()->bodyColor());
  contentView()->addSubview(textLabel_);
}

void VXNewsDetailTextCell::fill(const VXNewsDetailDO& row) {
  textLabel_->setText(row.content());
  textLabel_->setFont(VXNewsConfig::share()->detailBodyFont());
  textLabel_->setTextColor(VXNewsConfig::share()->bodyColor());
}

void VXNewsDetailTextCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  double m = VXNewsConfig::share()->detailInterval();
  auto text = std::dynamic_pointer_cast<VXNewsDetailTextDO>(dataObject_);
  double height = text ? text->textHeight() : 0;
  textLabel_->setFrame(os::Rect{m, 5, bounds().size.width - 2 * m, height});
}
