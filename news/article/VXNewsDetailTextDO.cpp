#include "news/article/VXNewsDetailTextDO.h"

#include "news/store/VXNewsConfig.h"
#include "os/core/String.h"
#include "ui/widgets/LXLabel.h"

double VXNewsDetailTextDO::calHeightByType() {
  // The same label kind that draws the text measures it, so the row fits what the cell shows.
  LXLabel measure;
  measure.setText(content_);
  auto style = textStyle();
  measure.setFont(style->detailBodyFont());
  textHeight_ = measure.textHeight(os::Rect{0, 0, contentWidth(*style), kMeasureHeight});
  actualHeight_ = textHeight_ + kHeightMargin;
  return actualHeight_;
}

std::string VXNewsDetailTextDO::description() const {
  return VXNewsDetailDO::description() + line("textHeight", os::format("%g", textHeight_));
}
