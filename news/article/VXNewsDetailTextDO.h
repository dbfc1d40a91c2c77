#pragma once
// A run of body text: as tall as the rich-text label needs for it, plus 20.
#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailTextDO : public VXNewsDetailDO {
 public:
  static constexpr double kHeightMargin = 20;
  static constexpr double kMeasureHeight = 10000;

  using VXNewsDetailDO::VXNewsDetailDO;
  double textHeight() const { return textHeight_; }
  double calHeightByType() override;
  std::string description() const override;

 private:
  double textHeight_ = 0;
};
