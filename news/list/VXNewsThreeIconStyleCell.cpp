#include "news/list/VXNewsThreeIconStyleCell.h"

#include "news/store/VXNewsConfig.h"

VXNewsThreeIconStyleCell::VXNewsThreeIconStyleCell(const std::shared_ptr<VXReaderContext>& context, const std::string& identifier)
    : VXNewsTitleStyleCell(context, identifier) {
  for (auto* icon : {&iconImageL_, &iconImageM_, &iconImageR_}) {
    *icon = std::make_shared<os::ImageView>();
    (*icon)->setBackgroundColor(os::Color::clear());
    contentView()->addSubview(*icon);
  }
}

void VXNewsThreeIconStyleCell::setContent(const std::shared_ptr<VXNewsDO>& item) {
  VXNewsTitleStyleCell::setContent(item);
  const std::shared_ptr<os::ImageView>* icons[] = {&iconImageL_, &iconImageM_, &iconImageR_};
  auto style = textStyle();
  for (std::size_t i = 0; i < 3; ++i) {
    const bool has = item && i < item->iconurls().size();
    VXNewsCellLoadIcon(*icons[i], has ? item->iconurls()[i] : std::string(), *style);
  }
}

void VXNewsThreeIconStyleCell::layoutSubviews() {
  VXNewsTitleStyleCell::layoutSubviews();
  auto config = textStyle();
  const double iw = config->cellIconWidth(), ih = config->cellIconHeight();
  const double l1 = config->cellTitleLInterval1();
  // Below the source row (20 high) and a 5-point gap.
  const double y = nameLabel_->frame().size.height + 15 + 25;
  iconImageL_->setFrame(os::Rect{l1, y, iw, ih});
  iconImageM_->setFrame(os::Rect{l1 + iw + 13, y, iw, ih});
  iconImageR_->setFrame(os::Rect{l1 + 2 * (iw + 13), y, iw, ih});
}
