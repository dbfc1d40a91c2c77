// The recommended-apps list against the local promotion server: its pages up to "lastpage", its
// rows and cells, the failure state, and a tap that goes through the ad click.
#include "news/ads/VXAdViewController.h"

#include <gtest/gtest.h>

#include "news/ads/VXAdCell.h"
#include "news/ads/VXAdWebViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/Image.h"
#include "ui/images/BNImageCache.h"

namespace newstest {
namespace {

class VXAdViewControllerTest : public AdFixture {
 protected:
  std::vector<long long> listed() const {
    return newstest::collect(os::testing::numbers(0L, static_cast<long>(list_->listData().size())),
                         [&](long i) { return list_->adAt(i)->adid(); });
  }

  std::shared_ptr<VXAdViewController> list_;
};

TEST_F(VXAdViewControllerTest, PagesThroughEveryAdUntilTheLastPage) {
  const auto& ads = server_->service().content().ads();
  ASSERT_GT(ads.size(), 6u);  // more than one page
  list_ = push(VXAdViewController::create(VXReaderContext::current()));
  EXPECT_EQ(list_->navbarTitle(), "精彩应用");
  ASSERT_EQ(list_->listData().size(), 6u);
  EXPECT_TRUE(list_->canLoadMore());
  EXPECT_EQ(rows(*list_->tableView()), 7);  // the load-more row

  int pages = 1;
  while (list_->canLoadMore() && pages < 10) {
    list_->loadNextPage();
    waitIdle(*list_);
    ++pages;
  }
  std::vector<long long> expected;
  for (const auto& ad : ads) expected.push_back(ad.adid);
  EXPECT_EQ(listed(), expected);
  EXPECT_EQ(pages, static_cast<int>((ads.size() + 5) / 6));
  EXPECT_EQ(server_->asked(2616), pages);
  EXPECT_EQ(rows(*list_->tableView()), static_cast<long>(ads.size()));  // no load-more row after "lastpage" 1

  auto& table = *list_->tableView();
  EXPECT_EQ(list_->heightForRowAtIndexPath(table, {0, 0}), 70.0);
  auto cell = std::dynamic_pointer_cast<VXAdCell>(list_->cellForRowAtIndexPath(table, {0, 3}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->reuseIdentifier(), "Ad_Cell");
  EXPECT_EQ(cell->nameLabel()->text(), ads[3].name);
  EXPECT_EQ(cell->summaryLabel()->text(), ads[3].summary);
  EXPECT_EQ(cell->dataObject()->content(), newsd::adTargetURL(server_->base(), ads[3]));
}

TEST_F(VXAdViewControllerTest, AFailedPageShowsTheFailureStateAndTheNetworkError) {
  server_->setFault(2616, newsd::Fault{newsd::FailureMode::HttpError, 0});
  list_ = push(VXAdViewController::create(VXReaderContext::current()));
  EXPECT_EQ(list_->tableViewState(), NQTableViewStateFailed);
  EXPECT_TRUE(list_->listData().empty());
  EXPECT_TRUE(waitHud(*list_->view(), "网络异常"));
  EXPECT_EQ(list_->heightForRowAtIndexPath(*list_->tableView(), {0, 0}), 0.0);
}

TEST_F(VXAdViewControllerTest, ATappedRowGoesThroughTheAdClick) {
  list_ = push(VXAdViewController::create(VXReaderContext::current()));
  long store = -1, web = -1;
  for (long i = 0; i < static_cast<long>(list_->listData().size()); ++i) {
    if (list_->adAt(i)->type() == 1 && store < 0) store = i;
    if (list_->adAt(i)->type() == 2 && web < 0) web = i;
  }
  ASSERT_GE(store, 0);
  ASSERT_GE(web, 0);

  os::TouchDriver::tapRow(*list_->tableView(), {0, store});
  ASSERT_TRUE(newstest::runUntil([&] { return storeSheet() && !storeSheet()->isLoading(); }));
  EXPECT_EQ(server_->service().received().adClicks, std::vector<long long>{list_->adAt(store)->adid()});
  EXPECT_EQ(storeSheet()->productName(), list_->adAt(store)->name());
  os::TouchDriver::settle();
  ASSERT_TRUE(os::TouchDriver::tapText("完成"));
  os::TouchDriver::settle();
  EXPECT_FALSE(storeSheet());

  list_->didSelectRowAtIndexPath(*list_->tableView(), {0, web});
  ASSERT_TRUE(newstest::runUntil([&] { return depth() == 3; }));
  auto page = std::dynamic_pointer_cast<VXAdWebViewController>(nav_->topViewController());
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->webUrl(), list_->adAt(web)->content());
}

TEST_F(VXAdViewControllerTest, AnIconOnDiskShowsAtOnceWithoutADownload) {
  const auto& ad = sampleAd(1);
  const std::string icon = newsd::adIconURL(server_->base(), ad);
  os::Bitmap bitmap;
  bitmap.width = 64;
  bitmap.height = 64;
  bitmap.pixels.assign(64 * 64 * 4, 90);
  auto cache = BNImageCache::sharedImageCache();
  cache->storeImage(os::Image::create(bitmap), icon, true);
  ASSERT_TRUE(newstest::runUntil([&] { return cache->diskImageExistsWithKey(icon); }));
  cache->removeImageForKey(icon, false);  // only the disk copy is left
  server_->setFault(newsd::FaultTarget::pictures(), newsd::Fault{newsd::FailureMode::HttpError, 0});

  VXAdCell cell;
  cell.setContent(std::make_shared<VXAdDO>(os::Dictionary{{"adid", ad.adid}, {"icon", icon}, {"name", "名"}}));
  ASSERT_TRUE(cell.iconView()->image());
  EXPECT_EQ(cell.iconView()->image()->size(), (os::Size{64, 64}));
  EXPECT_EQ(cell.nameLabel()->text(), "名");
  EXPECT_EQ(cell.summaryLabel()->text(), "");
  cache->removeImageForKey(icon, true);
}

}  // namespace
}  // namespace newstest
