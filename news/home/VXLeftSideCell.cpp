#include "news/home/VXLeftSideCell.h"

#include "os/graphics/Font.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"

namespace {
os::Color gray255(int level) { return os::Color::rgba(level / 255.0, level / 255.0, level / 255.0, 1); }
}  // namespace

VXLeftSideCell::VXLeftSideCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  setBackgroundColor(gray255(57));
  nameLabel_ = std::make_shared<os::Label>();
  nameLabel_->setBackgroundColor(os::Color::clear());
  nameLabel_->setFont(os::Font::systemFont(18));
  nameLabel_->setTextColor(gray255(176));
  nameLabel_->setNumberOfLines(1);
  contentView()->addSubview(nameLabel_);
  imageIcon_ = std::make_shared<os::ImageView>();
  contentView()->addSubview(imageIcon_);
  auto selected = std::make_shared<os::View>();
  selected->setBackgroundColor(gray255(41));
  setSelectedBackgroundView(selected);
}

void VXLeftSideCell::setDataObject(const VXLeftSideDO& entry) {
  dataObject_ = entry;
  nameLabel_->setText(entry.name());
  imageIcon_->setImage(os::imageNamed(entry.icon()));
}

void VXLeftSideCell::layoutSubviews() {
  os::TableViewCell::layoutSubviews();
  imageIcon_->setFrame(os::Rect{40, 9, 32, 32});
  nameLabel_->setFrame(os::Rect{110, 16, 100, 20});
}
