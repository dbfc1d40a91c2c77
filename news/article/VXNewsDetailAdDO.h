#pragma once
// The ad under an article (the row's content is the ad's name): always 116 high.
#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailAdDO : public VXNewsDetailDO {
 public:
  static constexpr double kBodyHeight = 86;
  static constexpr double kHeight = 116;

  explicit VXNewsDetailAdDO(const os::Dictionary& dict);
  long long adid() const { return adid_; }
  long long urlType() const { return urlType_; }
  const std::string& adUrl() const { return adUrl_; }
  const std::string& iconUrl() const { return iconUrl_; }
  const std::string& note() const { return note_; }
  double bodyHeight() const { return bodyHeight_; }
  double calHeightByType() override;

 private:
  long long adid_ = 0;
  long long urlType_ = 0;
  std::string adUrl_;
  std::string iconUrl_;
  std::string note_;
  double bodyHeight_ = 0;
};
