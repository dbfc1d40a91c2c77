#pragma once
// The article's title (the row's content), source and time: the title's wrapped height plus 30.
#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailHeaderDO : public VXNewsDetailDO {
 public:
  static constexpr double kHeightMargin = 30;

  explicit VXNewsDetailHeaderDO(const os::Dictionary& dict);
  const std::string& source() const { return source_; }
  const std::string& time() const { return time_; }
  double titleHeight() const { return titleHeight_; }
  double calHeightByType() override;
  std::string description() const override;

 private:
  std::string source_;
  std::string time_;
  double titleHeight_ = 0;
};
