#include <gtest/gtest.h>

#include <memory>

#include "foundation/formats/DateCalendar.h"
#include "foundation/formats/DateUtilities.h"
#include "news/list/VXNewsOneIconStyleCell.h"
#include "news/list/VXNewsTitleStyleCell.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/Image.h"
#include "os/runtime/Clock.h"
#include "ui/images/BNImageCache.h"

namespace {

// The device's time zone, China time (UTC+8), is the calendar's; the clock stands at 12:00 local
// on 10 March 2026 unless a test moves it.
class VXNewsCellsTest : public newstest::ReaderFixture {
 protected:
  void SetUp() override {
    // The hot mark: a plain picture in the bundle.
    ASSERT_TRUE(env_.sandbox().writeBundlePNG("upmark_hot.png", os::Bitmap(17, 17)));
  }
  static std::shared_ptr<VXNewsDO> news(const os::Dictionary& dict, long long category = 3) {
    return std::make_shared<VXNewsDO>(dict, category);
  }
  double at(long hour, long minute) const {
    return DateCalendar::currentCalendar().dateFromComponents(2026, 3, 10, hour, minute, 0).timeIntervalSince1970();
  }

  double noon_ = at(12, 0);
};

TEST_F(VXNewsCellsTest, RecentItemsShowTensOfMinutes) {
  auto t = [&](double secondsAgo) { return VXNewsTitleStyleCell::relativeTime(static_cast<long long>(noon_ - secondsAgo), noon_); };
  EXPECT_EQ(t(0), "1分钟内");
  EXPECT_EQ(t(9 * 60 + 59), "1分钟内");
  EXPECT_EQ(t(10 * 60), "10分钟前");
  EXPECT_EQ(t(25 * 60), "20分钟前");
  EXPECT_EQ(t(59 * 60 + 59), "50分钟前");
  // Dated in the future by less than an hour.
  EXPECT_EQ(t(-30 * 60), "1分钟内");
}

TEST_F(VXNewsCellsTest, OlderItemsShowHoursTodayAndTheDateBeforeThat) {
  EXPECT_EQ(VXNewsTitleStyleCell::relativeTime(static_cast<long long>(at(9, 0)), noon_), "3小时前");
  EXPECT_EQ(VXNewsTitleStyleCell::relativeTime(static_cast<long long>(at(0, 30)), noon_), "11小时前");
  // Three hours before 01:00 is yesterday evening: the date, not the hours.
  const double oneAM = at(1, 0);
  EXPECT_EQ(VXNewsTitleStyleCell::relativeTime(static_cast<long long>(oneAM - 3 * 3600), oneAM), "03-09 22:00");
  EXPECT_EQ(VXNewsTitleStyleCell::relativeTime(static_cast<long long>(noon_ - 3 * 86400), noon_), "03-07 12:00");
  // Far in the future: the date as well.
  EXPECT_EQ(VXNewsTitleStyleCell::relativeTime(static_cast<long long>(noon_ + 2 * 3600), noon_), "03-10 14:00");
}

TEST_F(VXNewsCellsTest, TheCellTellsTheTimeOnTheClock) {
  os::Clock::useVirtual(noon_);
  VXNewsTitleStyleCell cell(VXReaderContext::current());
  cell.setContent(news(newstest::item(1, static_cast<long long>(noon_ - 20 * 60))));
  EXPECT_EQ(cell.timeLabel()->text(), "20分钟前");
  os::Clock::advance(3 * 3600);
  EXPECT_EQ(cell.timeToString(), "3小时前");
}

TEST_F(VXNewsCellsTest, AReusedCellDropsTheBadgeAndTheAlbumMark) {
  os::Clock::useVirtual(noon_);
  auto hot = newstest::item(1, static_cast<long long>(noon_), std::string("album"));
  hot.set("upmark", os::Value("hot"));
  VXNewsTitleStyleCell cell(VXReaderContext::current());
  cell.setContent(news(hot));
  ASSERT_TRUE(cell.upmarkView()->image());
  EXPECT_FALSE(cell.typeMarkLabel()->isHidden());
  EXPECT_EQ(cell.typeMarkLabel()->text(), "图集");

  cell.setContent(news(newstest::item(2, static_cast<long long>(noon_))));
  EXPECT_FALSE(cell.upmarkView()->image());
  EXPECT_TRUE(cell.typeMarkLabel()->isHidden());
  EXPECT_EQ(cell.nameLabel()->text(), "新闻标题 2");

  // A hot item of category 7 shows no badge.
  cell.setContent(news(hot, 7));
  EXPECT_FALSE(cell.upmarkView()->image());
}

TEST_F(VXNewsCellsTest, ReadItemsAreGreyed) {
  // The application-wide read history answers, once an article is opened.
  VXGlobalDefine::setShared(std::make_shared<VXGlobalDefine>());
  VXNewsDBManager::setShared(nullptr);
  VXNewsTitleStyleCell cell(VXReaderContext::current());
  cell.setContent(news(newstest::item(5, 0)));
  EXPECT_EQ(cell.nameLabel()->textColor(), VXNewsConfig::share()->titleColor());
  ASSERT_TRUE(VXGlobalDefine::share()->addNewsHistory(5));
  cell.setContent(news(newstest::item(5, 0)));
  EXPECT_EQ(cell.nameLabel()->textColor(), os::Color::rgba(0.6, 0.6, 0.6, 1));
  cell.setContent(news(newstest::item(6, 0)));
  EXPECT_EQ(cell.nameLabel()->textColor(), VXNewsConfig::share()->titleColor());
}

TEST_F(VXNewsCellsTest, WithoutALookupTheSharedReadHistoryGreysItems) {
  VXNewsDBManager::setShared(nullptr);
  auto state = std::make_shared<VXGlobalDefine>();
  VXGlobalDefine::setShared(state);
  ASSERT_TRUE(state->addNewsHistory(8));
  VXNewsTitleStyleCell cell(VXReaderContext::current());
  cell.setContent(news(newstest::item(8, 0)));
  EXPECT_EQ(cell.nameLabel()->textColor(), os::Color::rgba(0.6, 0.6, 0.6, 1));
  cell.setContent(news(newstest::item(9, 0)));
  EXPECT_EQ(cell.nameLabel()->textColor(), VXNewsConfig::share()->titleColor());
  VXGlobalDefine::setShared(nullptr);
  VXNewsDBManager::setShared(nullptr);
}

TEST_F(VXNewsCellsTest, AnIconOnDiskShowsAtOnceCutToTwiceTheIconSize) {
  auto dict = newstest::item(1, 0, std::string(), 1);
  const std::string url = *(*dict.find("icons")).at(0).string();
  os::Bitmap bitmap;
  bitmap.width = 400;
  bitmap.height = 300;
  bitmap.pixels.assign(400 * 300 * 4, 90);
  BNImageCache::sharedImageCache()->storeImage(os::Image::create(bitmap), url, true);
  VXNewsOneIconStyleCell cell(VXReaderContext::current());
  cell.setContent(news(dict));
  ASSERT_TRUE(cell.iconImage()->image());
  EXPECT_EQ(cell.iconImage()->image()->size(), (os::Size{180, 126}));
  BNImageCache::sharedImageCache()->removeImageForKey(url, false);
}

}  // namespace
