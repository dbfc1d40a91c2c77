#include "news/article/VXNewsDetailHeaderDO.h"

#include "news/store/VXNewsConfig.h"
#include "os/core/String.h"
#include "os/graphics/TextLayout.h"

VXNewsDetailHeaderDO::VXNewsDetailHeaderDO(const os::Dictionary& dict)
    : VXNewsDetailDO(dict), source_(textOf(dict, "source")), time_(textOf(dict, "time")) {
  type_ = kNewsDetailHeader;
}

double VXNewsDetailHeaderDO::calHeightByType() {
  titleHeight_ = 0;
  if (!content_.empty()) {
    titleHeight_ = os::sizeWithFont(content_, VXNewsConfig::share()->detailTitleFont(), os::Size{contentWidth(), 10000},
                                    os::LineBreakMode::WordWrap)
                       .height;
  }
  actualHeight_ = titleHeight_ + kHeightMargin;
  return actualHeight_;
}

std::string VXNewsDetailHeaderDO::description() const {
  return VXNewsDetailDO::description() + line("source", source_) + line("time", time_) +
         line("titleHeight", os::format("%g", titleHeight_));
}
