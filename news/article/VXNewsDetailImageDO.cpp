#include "news/article/VXNewsDetailImageDO.h"

#include <cmath>

#include "news/store/VXNewsConfig.h"

VXNewsDetailImageDO::VXNewsDetailImageDO(const os::Dictionary& dict)
    : VXNewsDetailDO(dict), altText_(textOf(dict, "alt")) {
  double w = numberOf(dict, "originalwidth");
  double h = numberOf(dict, "originalheight");
  // Nonsense sizes (negative, not finite) get the default as a missing one does.
  originalWidth_ = (std::isfinite(w) && w > 0) ? w : kDefaultSide;
  originalHeight_ = (std::isfinite(h) && h > 0) ? h : kDefaultSide;
}

double VXNewsDetailImageDO::calHeightByType() {
  imageHeight_ = contentWidth(*textStyle()) / originalWidth_ * originalHeight_;
  actualHeight_ = imageHeight_ + kHeightMargin;
  return actualHeight_;
}
