#include "news/list/VXNewsOneIconStyleCell.h"

#include <algorithm>

#include "news/store/VXNewsConfig.h"

VXNewsOneIconStyleCell::VXNewsOneIconStyleCell(const std::shared_ptr<VXReaderContext>& context, const std::string& identifier)
    : VXNewsTitleStyleCell(context, identifier) {
  iconImage_ = std::make_shared<os::ImageView>();
  iconImage_->setBackgroundColor(os::Color::clear());
  contentView()->addSubview(iconImage_);
}

void VXNewsOneIconStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  VXNewsTitleStyleCell::setContent(item);
  const auto* urls = item ? &item->iconurls() : nullptr;
  VXNewsCellLoadIcon(iconImage_, urls && !urls->empty() ? urls->front() : std::string(), *textStyle());
}

void VXNewsOneIconStyleCell::layoutSubviews() {
  VXNewsTitleStyleCell::layoutSubviews();
  auto config = textStyle();
  const double w = bounds().size.width;
  nameLabel_->setFrame(os::Rect{config->cellTitleLInterval2(), 10,
                                w - config->cellTitleLInterval2() - config->cellTitleRInterval2(), titleHeight()});
  iconImage_->setFrame(os::Rect{w - 102, 10, config->cellIconWidth(), config->cellIconHeight()});
  layoutNoteRow(std::max(nameLabel_->frame().size.height, iconImage_->frame().size.height) + 15);
}
