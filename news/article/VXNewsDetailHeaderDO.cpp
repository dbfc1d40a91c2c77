#include "news/article/VXNewsDetailHeaderDO.h"

#include <cstdio>
#include <optional>

#include "foundation/formats/DateUtilities.h"

#include "news/store/VXNewsConfig.h"
#include "os/core/String.h"
#include "os/graphics/TextLayout.h"

VXNewsDetailHeaderDO::VXNewsDetailHeaderDO(const os::Dictionary& dict)
    : VXNewsDetailDO(dict), source_(textOf(dict, "source")), time_(textOf(dict, "time")) {
  type_ = kNewsDetailHeader;
}

std::string VXNewsDetailHeaderDO::displayTime() const {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, used = 0;
  std::optional<os::Date> when;
  if (std::sscanf(time_.c_str(), "%4d-%2d-%2d %2d:%2d%n", &year, &month, &day, &hour, &minute, &used) == 5 &&
      static_cast<std::size_t>(used) == time_.size() && year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
      day <= 31 && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59) {
    DateCalendar server(TimeZoneRules::fixed(kServerZoneOffset, "Asia/Shanghai"));
    when = server.dateFromComponents(year, month, day, hour, minute, 0);
  } else if (!time_.empty() && time_.size() <= 10 /* seconds up to 2286 */ && time_.find_first_not_of("0123456789") == std::string::npos) {
    when = os::Date::fromTimeIntervalSince1970(std::stod(time_));
  }
  return when ? stringWithFormat(*when, "yyyy-MM-dd HH:mm") : time_;
}

double VXNewsDetailHeaderDO::calHeightByType() {
  titleHeight_ = 0;
  if (!content_.empty()) {
    auto style = textStyle();
    titleHeight_ = os::sizeWithFont(content_, style->detailTitleFont(), os::Size{contentWidth(*style), 10000},
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
