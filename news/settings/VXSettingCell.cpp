#include "news/settings/VXSettingCell.h"

#include "os/core/String.h"
#include "os/graphics/Font.h"
#include "os/views/Device.h"

namespace {

os::Color gray72() { return os::Color::rgba(72 / 255.0, 72 / 255.0, 72 / 255.0, 1); }

std::shared_ptr<os::Label> rowLabel() {
  auto label = std::make_shared<os::Label>();
  label->setBackgroundColor(os::Color::clear());
  label->setFont(os::Font::systemFont(18));
  label->setNumberOfLines(1);
  label->setTextColor(gray72());
  return label;
}

}  // namespace

VXSettingCell::VXSettingCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  setSelectionStyle(os::TableViewCellSelectionStyle::None);
  nameLabel_ = rowLabel();
  noteLabel_ = rowLabel();
  noteLabel_->setTextAlignment(os::TextAlignment::Right);
  swichButton_ = std::make_shared<os::Switch>();
  swichButton_->setBackgroundColor(os::Color::clear());
  contentView()->addSubview(nameLabel_);
  contentView()->addSubview(noteLabel_);
  contentView()->addSubview(swichButton_);
}

void VXSettingCell::setContent(const VXSettingDO& row) {
  dataObject_ = row;
  nameLabel_->setText(row.name());
  // A reused cell may have shown another kind of row before.
  noteLabel_->setHidden(row.type() != VXSettingDO::kNote);
  swichButton_->setHidden(row.type() != VXSettingDO::kSwitch);
  if (row.type() == VXSettingDO::kNote) noteLabel_->setText(row.note());
  if (row.type() == VXSettingDO::kSwitch) swichButton_->setOn(os::intValue(row.note()) != 1, false);
  // The switch is named by its row, as a reader hears it.
  swichButton_->setAccessibilityLabel(row.type() == VXSettingDO::kSwitch ? row.name() : "");
}

void VXSettingCell::layoutSubviews() {
  os::TableViewCell::layoutSubviews();
  const double width = bounds().size.width;
  nameLabel_->setFrame(os::Rect{20, 12, 80, 20});
  noteLabel_->setFrame(os::Rect{width - 110, 12, 100, 20});
  const os::Size size = swichButton_->frame().size;
  if (os::Device::current().systemVersionNumber() >= 7)
    swichButton_->setFrame(os::Rect{width - 61, 7, size.width, size.height});
  else
    swichButton_->setFrame(os::Rect{width - 89, 8, size.width, size.height});
}
