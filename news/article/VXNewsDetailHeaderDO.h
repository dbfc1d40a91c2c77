#pragma once
// The article's title (the row's content), source and time: the title's wrapped height plus 30.
#include "news/article/VXNewsDetailDO.h"

class VXNewsDetailHeaderDO : public VXNewsDetailDO {
 public:
  static constexpr double kHeightMargin = 30;
  // The server writes its times in Beijing time, which keeps no summer time.
  static constexpr long kServerZoneOffset = 8 * 3600;

  explicit VXNewsDetailHeaderDO(const os::Dictionary& dict);
  const std::string& source() const { return source_; }
  // The time as the server wrote it.
  const std::string& time() const { return time_; }
  // The time as the header shows it: the server's "yyyy-MM-dd HH:mm" (Beijing time) or seconds
  // since 1970, in the device's time zone, as the list shows its times; any other text as written.
  std::string displayTime() const;
  double titleHeight() const { return titleHeight_; }
  double calHeightByType() override;
  std::string description() const override;

 private:
  std::string source_;
  std::string time_;
  double titleHeight_ = 0;
};
