// The article header and the list show one article's time alike, in the device's time zone,
// though the server writes the header's in Beijing time and the list's in seconds.
#include <gtest/gtest.h>

#include "news/article/VXNewsDetailHeaderCell.h"
#include "news/article/VXNewsDetailHeaderDO.h"
#include "news/list/VXNewsTitleStyleCell.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/views/Device.h"

namespace {

// 11:34 UTC on 5 December 2026; a week later is "now".
constexpr long long kPublished = 1796470440;
constexpr double kNow = kPublished + 7 * 86400;

std::string headerTime(const std::string& written) {
  auto row = std::make_shared<VXNewsDetailHeaderDO>(os::Dictionary{{"content", "标题"}, {"source", "新华社"}, {"time", written}});
  row->calHeightByType();
  auto cell = std::make_shared<VXNewsDetailHeaderCell>("NEWSDETAIL_HEADERCELL", VXReaderContext::current());
  cell->setContent(row);
  return cell->timeLabel()->text();
}

using ArticleHeaderTime = newstest::ReaderFixture;

TEST_F(ArticleHeaderTime, AgreesWithTheListInTheDeviceTimeZone) {
  os::DeviceProfile profile;
  for (const char* zone : {"Asia/Shanghai", "Europe/London"}) {
    profile.timeZone = zone;
    os::DeviceProfileScope device(profile);
    std::string list = VXNewsTitleStyleCell::relativeTime(kPublished, kNow);
    EXPECT_EQ(list, zone == std::string("Asia/Shanghai") ? "12-05 19:34" : "12-05 11:34");
    EXPECT_EQ(headerTime("2026-12-05 19:34"), "2026-" + list) << zone;
    EXPECT_EQ(headerTime(std::to_string(kPublished)), "2026-" + list) << zone;
    // What is no time the header can read shows as written.
    EXPECT_EQ(headerTime("12-07 08:00"), "12-07 08:00");
    EXPECT_EQ(headerTime("2026-13-05 19:34"), "2026-13-05 19:34");
    EXPECT_EQ(headerTime("2026-12-05 -1:-5"), "2026-12-05 -1:-5");
  }
}

}  // namespace
