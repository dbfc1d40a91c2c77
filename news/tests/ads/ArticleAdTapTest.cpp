// An article's ad row, tapped with no ad handler named at start-up, goes through the shared ad
// helper all the way to the store sheet over the article.
#include <gtest/gtest.h>

#include "news/tests/support/ReaderFixture.h"
#include "os/views/Application.h"
#include "tools/newsd/server/SampleContent.h"

namespace {

class ArticleAdTapTest : public newstest::ArticleScreenTest {};

TEST_F(ArticleAdTapTest, TheAdRowReportsTheClickAndShowsTheStoreSheet) {
  auto app = os::Application::create(nullptr);
  app->makeShared();
  useStore();
  const newsd::Ad* storeAd = nullptr;
  for (const auto& ad : server_->service().content().ads())
    if (ad.type == 1 && !storeAd) storeAd = &ad;
  ASSERT_NE(storeAd, nullptr);
  VXAdDO ad(os::Dictionary{{"adid", storeAd->adid}, {"type", 1}, {"content", newsd::adTargetURL(server_->base(), *storeAd)},
                           {"name", storeAd->name}});
  VXNewsDetailViewController::Services services;
  services.randAd = [&] { return ad; };
  VXNewsDetailViewController::setServices(services);

  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  long adRow = -1;
  for (long i = 0; i < static_cast<long>(screen->rows().size()); ++i)
    if (screen->rows()[i]->type() == kNewsDetailAd) adRow = i;
  ASSERT_GE(adRow, 0);
  screen->didSelectRowAtIndexPath(*screen->tableView(), {0, adRow});

  ASSERT_TRUE(newstest::runUntil([&] { return storeSheet() && !storeSheet()->isLoading(); }));
  EXPECT_EQ(server_->service().received().adClicks, std::vector<long long>{storeAd->adid});
  EXPECT_EQ(server_->service().received().adCallbacks.size(), 1u);
  EXPECT_EQ(storeSheet()->productName(), storeAd->name);
  EXPECT_TRUE(app->openedURLs().empty());
  os::RunLoop::main()->runUntilIdle();
}

}  // namespace
