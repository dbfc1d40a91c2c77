#include "news/offline/VXOfflineCell.h"

#include "os/graphics/Font.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"

VXOfflineCell::VXOfflineCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  setSelectionStyle(os::TableViewCellSelectionStyle::None);
  nameLabel_ = std::make_shared<os::Label>();
  nameLabel_->setBackgroundColor(os::Color::clear());
  nameLabel_->setFont(os::Font::systemFont(18));
  nameLabel_->setNumberOfLines(1);
  nameLabel_->setTextColor(os::Color::rgba(72.0 / 255, 72.0 / 255, 72.0 / 255, 1));
  contentView()->addSubview(nameLabel_);

  selectedButton_ = std::make_shared<os::Button>(os::ButtonType::Custom);
  selectedButton_->setImage(os::imageNamed("offline_option"), os::kControlStateNormal);
  selectedButton_->setImage(os::imageNamed("offline_option_selected"), os::kControlStateSelected);
  // The tick only shows the choice: a tap on it must reach the row, which toggles it.
  selectedButton_->setUserInteractionEnabled(false);
  contentView()->addSubview(selectedButton_);
}

void VXOfflineCell::layoutSubviews() {
  os::TableViewCell::layoutSubviews();
  nameLabel_->setFrame(os::Rect{20, 12, 80, 20});
  selectedButton_->setFrame(os::Rect{frame().size.width - 40, 12, 20, 20});
}

void VXOfflineCell::setSelected(bool selected, bool animated) { os::TableViewCell::setSelected(selected, animated); }
