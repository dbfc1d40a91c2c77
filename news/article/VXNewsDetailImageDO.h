#pragma once
// A picture: scaled to the content width, its height kept in proportion, plus 20. A missing or
// zero size counts as 320 (each side on its own), so an unsized picture is square.
#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailImageDO : public VXNewsDetailDO {
 public:
  static constexpr double kDefaultSide = 320;
  static constexpr double kHeightMargin = 20;

  explicit VXNewsDetailImageDO(const os::Dictionary& dict);
  double originalWidth() const { return originalWidth_; }
  double originalHeight() const { return originalHeight_; }
  const std::string& altText() const { return altText_; }
  double imageHeight() const { return imageHeight_; }
  double calHeightByType() override;

 private:
  double originalWidth_ = kDefaultSide;
  double originalHeight_ = kDefaultSide;
  std::string altText_;
  double imageHeight_ = 0;
};
