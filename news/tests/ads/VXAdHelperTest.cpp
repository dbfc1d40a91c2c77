// An ad tap end to end against the local promotion server: the click report, the advertiser's
// callback with the server's user agent, then the store page or the ad's web page.
#include "news/ads/VXAdHelper.h"

#include <gtest/gtest.h>

#include "news/ads/VXAdWebViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/testing/LogCapture.h"
#include "os/views/Device.h"

namespace newstest {
namespace {

constexpr const char* kServerAgent = "NewsdSample/1.0 (ad callback)";

class VXAdHelperTest : public AdFixture {
 protected:
  std::vector<std::pair<long long, std::string>> callbacks() const { return server_->service().received().adCallbacks; }
  std::vector<long long> clicks() const { return server_->service().received().adClicks; }
};

TEST_F(VXAdHelperTest, AStoreAdIsReportedItsCallbackFiredWithTheServersAgentThenItsStoreSheetShows) {
  const auto& ad = sampleAd(1);
  server_->setFault(2002, newsd::Fault{newsd::FailureMode::None, 5});
  VXAdHelper::share().request(ad.adid, 1, target(ad), *screen_);
  // While the report is out: the spinner, without text, on the tapped screen.
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  ASSERT_TRUE(runUntil([&] { return hudText(*screen_->view()) == ""; }));
  EXPECT_EQ(KHProgressHUD::HUDForView(*screen_->view())->mode(), 0);
  os::Clock::advance(5);
  ASSERT_TRUE(newstest::runUntil([&] { return storeSheet() && storeSheet()->productName() == ad.name; }));
  os::RunLoop::main()->runUntilIdle();

  EXPECT_EQ(clicks(), std::vector<long long>{ad.adid});
  EXPECT_EQ(callbacks(), (std::vector<std::pair<long long, std::string>>{{ad.adid, kServerAgent}}));
  EXPECT_TRUE(opened().empty());
  EXPECT_FALSE(app_->isNetworkActivityIndicatorVisible());
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);
}

// The store sheet belongs to the screen whose ad was tapped: when that screen has closed before
// the answer, a tap on another screen meanwhile does not take the sheet.
TEST_F(VXAdHelperTest, AStoreAnswerForAClosedScreenShowsNoSheetOnTheScreenTappedSince) {
  const auto& ad = sampleAd(1);
  auto article = std::make_shared<NQBaseViewController>();
  nav_->pushViewController(article, false);
  os::TouchDriver::settle();
  server_->setFault(2002, newsd::Fault{newsd::FailureMode::None, 5});
  VXAdHelper::share().request(ad.adid, 1, target(ad), *article);
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  nav_->popViewController(false);
  os::TouchDriver::settle();
  std::weak_ptr<NQBaseViewController> closed = article;
  article.reset();
  ASSERT_TRUE(closed.expired());
  // On the screen beneath, an ad of a kind that opens nothing.
  VXAdHelper::share().request(ad.adid, 3, "", *screen_);

  os::testing::LogCapture log;
  os::Clock::advance(5);
  ASSERT_TRUE(runUntil([&] { return storeSheet() || log.contains("store sheet not shown"); }));
  EXPECT_EQ(callbacks(), (std::vector<std::pair<long long, std::string>>{{ad.adid, kServerAgent}}));
  EXPECT_FALSE(storeSheet());
}

TEST_F(VXAdHelperTest, AWebAdPushesItsPageWhichFiresTheCallbackOnceAndLoadsFullSize) {
  const auto& ad = sampleAd(2);
  VXAdHelper::share().request(ad.adid, 2, target(ad), *screen_);
  ASSERT_TRUE(newstest::runUntil([&] { return depth() == 2; }));
  auto page = std::dynamic_pointer_cast<VXAdWebViewController>(nav_->topViewController());
  ASSERT_NE(page, nullptr);
  os::TouchDriver::settle();
  ASSERT_TRUE(newstest::runUntil([&] { return page->webView() && page->webView()->title() == ad.name; }));
  EXPECT_EQ(page->webView()->frame(), page->view()->bounds());
  ASSERT_TRUE(newstest::runUntil([&] { return !callbacks().empty(); }));
  EXPECT_EQ(callbacks(), (std::vector<std::pair<long long, std::string>>{{ad.adid, kServerAgent}}));
  EXPECT_EQ(clicks(), std::vector<long long>{ad.adid});
  EXPECT_TRUE(opened().empty());
}

TEST_F(VXAdHelperTest, RefusedReportsOtherKindsAndUnsafeAddressesGoNoFurther) {
  // An ad the server does not know ("result" 1), then a report that fails outright.
  VXAdHelper::share().request(987654, 2, server_->base() + "/ad/987654.html", *screen_);
  ASSERT_TRUE(waitHud(*screen_->view(), "网络异常"));
  server_->setFault(2002, newsd::Fault{newsd::FailureMode::HttpError, 0});
  os::TouchDriver::advance(2);
  const auto& ad = sampleAd(1);
  VXAdHelper::share().request(ad.adid, 1, target(ad), *screen_);
  ASSERT_TRUE(waitHud(*screen_->view(), "网络异常"));
  int reports = server_->asked(2002);

  VXAdHelper::share().request(ad.adid, 3, target(ad), *screen_);
  VXAdHelper::share().request(ad.adid, 1, "file:///etc/passwd", *screen_);
  VXAdHelper::share().request(ad.adid, 2, "javascript:alert(1)", *screen_);
  os::TouchDriver::advance(2);
  EXPECT_EQ(server_->asked(2002), reports);
  EXPECT_TRUE(callbacks().empty());
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(depth(), 1u);

  auto page = VXAdWebViewController::initWithUrl("file:///etc/passwd", "", "");
  nav_->pushViewController(page, false);
  os::TouchDriver::settle();
  EXPECT_FALSE(page->webView()->request());
}

TEST_F(VXAdHelperTest, TheStoreOpensPastAMissingUnsafeOrFailedCallbackAndOnlyForStoreAddresses) {
  // Before system 6.0 the store address goes to the platform, which makes each opening countable.
  os::DeviceProfile older = newstest::phoneProfile();
  older.systemVersion = "5.1";
  os::DeviceProfileScope scope(older);
  const auto& ad = sampleAd(1);
  VXAdHelper::share().requestCallback("", kServerAgent, target(ad));
  VXAdHelper::share().requestCallback("file:///etc/passwd", kServerAgent, target(ad));
  EXPECT_EQ(opened().size(), 2u);
  VXAdHelper::share().requestCallback(server_->base() + "/adcb/999999", kServerAgent, target(ad));  // answered 404
  ASSERT_TRUE(newstest::runUntil([&] { return opened().size() == 3; }));
  EXPECT_EQ(opened().back(), "itms-apps://" + server_->base().substr(7) + "/app/id" + std::to_string(ad.storeId) + "?mt=8");

  // Older systems take any store address, with an item id or without; nothing else ever opens.
  VXAdHelper::share().openAppstore("https://s.example/app/name");
  EXPECT_EQ(opened().back(), "itms-apps://s.example/app/name");
  for (const char* other : {"tel:110", "weixin://id7", "file:///id1"}) VXAdHelper::share().openAppstore(other);
  EXPECT_EQ(opened().size(), 4u);
  EXPECT_FALSE(storeSheet());
  EXPECT_FALSE(app_->isNetworkActivityIndicatorVisible());
}

TEST_F(VXAdHelperTest, StoreAddressesBecomeTheStoresOwnAndYieldTheItemIdOfTheirLastComponent) {
  EXPECT_EQ(VXAdHelper::appstoreAddress("https://s.example/cn/app/id123456789?mt=8"),
            "itms-apps://s.example/cn/app/id123456789?mt=8");
  // Every occurrence is rewritten, and only of the scheme the address starts with.
  EXPECT_EQ(VXAdHelper::appstoreAddress("http://s.example/app/id1?back=http://x&s=https://y"),
            "itms-apps://s.example/app/id1?back=itms-apps://x&s=https://y");
  EXPECT_EQ(VXAdHelper::appstoreAddress("https://s.example/app/id1?back=https://x&s=http://y"),
            "itms-apps://s.example/app/id1?back=itms-apps://x&s=http://y");
  EXPECT_EQ(VXAdHelper::appstoreAddress("itms-apps://s.example/app/id1"), "itms-apps://s.example/app/id1");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://s.example/cn/app/id123456789?mt=8"), "123456789");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://s.example/app/id42"), "42");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://s.example/app/name-idea?mt=8"), "ea");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://s.example/app/id?mt=8"), "");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://s.example/id7/name"), std::nullopt);
}

TEST_F(VXAdHelperTest, OnNewerSystemsTheSheetShowsTheItemWithTheIndicatorOnWhileItLoads) {
  const auto& ad = sampleAd(1);
  const std::string host = server_->base().substr(7);
  VXAdHelper::share().request(ad.adid, 3, "", *screen_);  // an unknown kind: only the screen is kept
  for (const char* scheme : {"https://", "http://"}) {
    VXAdHelper::share().openAppstore(scheme + host + "/cn/app/id" + std::to_string(ad.storeId) + "?mt=8");
    auto sheet = storeSheet();
    ASSERT_TRUE(sheet) << scheme;
    EXPECT_TRUE(sheet->isLoading());
    EXPECT_TRUE(app_->isNetworkActivityIndicatorVisible());
    ASSERT_TRUE(newstest::runUntil([&] { return !sheet->isLoading(); }));
    EXPECT_FALSE(app_->isNetworkActivityIndicatorVisible());
    EXPECT_EQ(sheet->productName(), ad.name);
    EXPECT_EQ(sheet->delegate().get(), &VXAdHelper::share());

    // Done dismisses it from the screen it was shown on.
    os::TouchDriver::settle();
    ASSERT_TRUE(os::TouchDriver::tapText("完成"));
    os::TouchDriver::settle();
    EXPECT_FALSE(storeSheet());
  }

  // An id the store does not know: the sheet shows, its load fails, the indicator goes off all
  // the same.
  VXAdHelper::share().openAppstore("https://" + host + "/app/id42");
  auto sheet = storeSheet();
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(app_->isNetworkActivityIndicatorVisible());
  ASSERT_TRUE(newstest::runUntil([&] { return !sheet->isLoading(); }));
  EXPECT_FALSE(app_->isNetworkActivityIndicatorVisible());
  EXPECT_EQ(sheet->productName(), "");
  VXAdHelper::share().productViewControllerDidFinish(*sheet);
  os::TouchDriver::settle();
  EXPECT_FALSE(storeSheet());

  // A store address without an item id opens nothing, and nothing goes to the platform.
  for (const std::string& address : {"https://" + host + "/app/name", "https://" + host + "/app/id?mt=8"}) {
    VXAdHelper::share().openAppstore(address);
    EXPECT_FALSE(storeSheet()) << address;
    EXPECT_FALSE(app_->isNetworkActivityIndicatorVisible());
  }
  EXPECT_TRUE(opened().empty());
}

TEST_F(VXAdHelperTest, SystemSixPointZeroIsTheFirstToShowTheSheet) {
  const std::string host = server_->base().substr(7);
  VXAdHelper::share().request(sampleAd(1).adid, 3, "", *screen_);  // the screen the sheet shows on
  for (const char* version : {"6.0", "5.9"}) {
    os::DeviceProfile profile = newstest::phoneProfile();
    profile.systemVersion = version;
    os::DeviceProfileScope scope(profile);
    VXAdHelper::share().openAppstore("https://" + host + "/cn/app/id" + std::to_string(sampleAd(1).storeId) + "?mt=8");
    auto sheet = storeSheet();
    EXPECT_EQ(sheet != nullptr, std::string(version) == "6.0") << version;
    if (sheet) {
      ASSERT_TRUE(newstest::runUntil([&] { return !sheet->isLoading(); }));
      VXAdHelper::share().productViewControllerDidFinish(*sheet);
      os::TouchDriver::settle();
    }
  }
  EXPECT_EQ(opened().size(), 1u);  // 5.9 hands the address to the platform
}

}  // namespace
}  // namespace newstest
