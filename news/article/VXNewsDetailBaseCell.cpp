#include "news/article/VXNewsDetailBaseCell.h"


VXNewsDetailBaseCell::VXNewsDetailBaseCell(const std::string& identifier)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier) {
  setBackgroundColor(os::Color::clear());
  setSelectionStyle(os::TableViewCellSelectionStyle::None);
}

void VXNewsDetailBaseCell::setContent(VXNewsDetailDOPtr row) {
  dataObject_ = std::move(row);
  if (dataObject_) fill(*dataObject_);
  setNeedsLayout();
}

