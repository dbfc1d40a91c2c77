#include "news/article/VXNewsDetailAdDO.h"

VXNewsDetailAdDO::VXNewsDetailAdDO(const os::Dictionary& dict)
    : VXNewsDetailDO(dict),
      adid_(static_cast<long long>(numberOf(dict, "adid"))),
      urlType_(static_cast<long long>(numberOf(dict, "urltype"))),
      adUrl_(textOf(dict, "adurl")),
      iconUrl_(textOf(dict, "iconurl")),
      note_(textOf(dict, "note")) {
  type_ = kNewsDetailAd;
}

double VXNewsDetailAdDO::calHeightByType() {
  bodyHeight_ = kBodyHeight;
  actualHeight_ = kHeight;
  return actualHeight_;
}
