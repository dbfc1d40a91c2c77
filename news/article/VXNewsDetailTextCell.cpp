#include "news/article/VXNewsDetailTextCell.h"

#include "news/article/VXNewsDetailTextDO.h"
#include "news/store/VXNewsConfig.h"

VXNewsDetailTextCell::VXNewsDetailTextCell(const std::string& identifier, const std::shared_ptr<VXReaderContext>& context)
    : VXNewsDetailBaseCell(identifier, context) {
  textLabel_ = std::make_shared<LXLabel>();
  textLabel_->setBackgroundColor(os::Color::clear());
  textLabel_->setTextColor(textStyle()->bodyColor());
  contentView()->addSubview(textLabel_);
}

void VXNewsDetailTextCell::fill(const VXNewsDetailDO& row) {
  textLabel_->setText(row.content());
  textLabel_->setFont(textStyle()->detailBodyFont());
  textLabel_->setTextColor(textStyle()->bodyColor());
}

void VXNewsDetailTextCell::layoutSubviews() {
  VXNewsDetailBaseCell::layoutSubviews();
  double m = textStyle()->detailInterval();
  auto text = std::dynamic_pointer_cast<VXNewsDetailTextDO>(dataObject_);
  double height = text ? text->textHeight() : 0;
  textLabel_->setFrame(os::Rect{m, 5, bounds().size.width - 2 * m, height});
}
