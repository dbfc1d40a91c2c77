#include "news/article/VXNewsDetailBaseCell.h"

#include "news/api/VXReaderContext.h"
#include "news/store/VXNewsConfig.h"


VXNewsDetailBaseCell::VXNewsDetailBaseCell(const std::string& identifier,
                                           const std::shared_ptr<VXReaderContext>& context)
    : os::TableViewCell(os::TableViewCellStyle::Default, identifier), context_(context) {
  setBackgroundColor(os::Color::clear());
  setSelectionStyle(os::TableViewCellSelectionStyle::None);
}

void VXNewsDetailBaseCell::setContent(VXNewsDetailDOPtr row) {
  dataObject_ = std::move(row);
  if (dataObject_) fill(*dataObject_);
  setNeedsLayout();
}


std::shared_ptr<VXNewsConfig> VXNewsDetailBaseCell::textStyle() const {
  if (auto context = context_.lock()) return VXNewsConfig::share(*context);
  return std::make_shared<VXNewsConfig>();
}
