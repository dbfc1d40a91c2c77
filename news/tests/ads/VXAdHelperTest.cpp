// An ad tap end to end against the local promotion server: the click report, the advertiser's
// callback with the server's user agent, then the store page or the ad's web page.
#include "news/common/VXAdHelper.h"

#include <gtest/gtest.h>

#include "news/controllers/VXAdWebViewController.h"
#include "news/models/requests/NQBaseRequest.h"
#include "news/tests/ads/AdTestSupport.h"
#include "os/views/Device.h"

namespace adtest {
namespace {

constexpr const char* kServerAgent = "NewsdSample/1.0 (ad callback)";

class VXAdHelperTest : public AdFixture {
 protected:
  std::vector<std::pair<long long, std::string>> callbacks() const { return server_->service().received().adCallbacks; }
  std::string storeAddress(const newsd::Ad& ad) const {
    return "itms-apps://" + base_.substr(7) + "/app/id" + std::to_string(ad.storeId) + "?mt=8";
  }
};

TEST_F(VXAdHelperTest, AStoreAdIsReportedItsCallbackFiredWithTheServersAgentThenTheStoreOpens) {
  const auto& ad = sampleAd(1);
  server_->setFault(2002, newsd::Fault{newsd::FailureMode::None, 5});
  VXAdHelper::share().request(ad.adid, 1, target(ad), *screen_);
  // While the report is out: the spinner, without text, on the tapped screen.
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  ASSERT_TRUE(newstest::runUntil([&] { return hudText(*screen_->view()) == ""; }));
  EXPECT_EQ(KHProgressHUD::HUDForView(*screen_->view())->mode(), 0);
  EXPECT_TRUE(opened().empty());
  os::Clock::advance(5);
  ASSERT_TRUE(newstest::runUntil([&] { return !opened().empty(); }));
  os::RunLoop::main()->runUntilIdle();

  EXPECT_EQ(server_->service().received().adClicks, std::vector<long long>{ad.adid});
  ASSERT_EQ(callbacks().size(), 1u);
  EXPECT_EQ(callbacks()[0].first, ad.adid);
  EXPECT_EQ(callbacks()[0].second, kServerAgent);
  EXPECT_EQ(opened(), std::vector<std::string>{storeAddress(ad)});
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);
  EXPECT_EQ(nav_->viewControllers().size(), 1u);
}

TEST_F(VXAdHelperTest, AWebAdPushesItsPageWhichFiresTheCallbackOnceAndLoads) {
  const auto& ad = sampleAd(2);
  VXAdHelper::share().request(ad.adid, 2, target(ad), *screen_);
  ASSERT_TRUE(newstest::runUntil([&] { return nav_->viewControllers().size() == 2; }));
  auto page = std::dynamic_pointer_cast<VXAdWebViewController>(nav_->topViewController());
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->webUrl(), target(ad));
  EXPECT_EQ(page->userAgent(), kServerAgent);
  os::TouchDriver::settle();
  ASSERT_NE(page->webView(), nullptr);
  ASSERT_TRUE(newstest::runUntil([&] { return !page->webView()->isLoading() && !page->webView()->title().empty(); }));
  EXPECT_EQ(page->webView()->title(), ad.name);
  EXPECT_EQ(page->webView()->frame(), page->view()->bounds());

  ASSERT_TRUE(newstest::runUntil([&] { return !callbacks().empty(); }));
  EXPECT_EQ(callbacks()[0], std::make_pair(ad.adid, std::string(kServerAgent)));
  EXPECT_EQ(server_->service().received().adClicks, std::vector<long long>{ad.adid});
  EXPECT_TRUE(opened().empty());
}

TEST_F(VXAdHelperTest, ARefusedOrFailedReportShowsTheNetworkErrorAndGoesNoFurther) {
  // An ad the server does not know: "result" 1.
  VXAdHelper::share().request(987654, 2, base_ + "/ad/987654.html", *screen_);
  ASSERT_TRUE(waitHud(*screen_->view(), "网络异常"));
  EXPECT_EQ(nav_->viewControllers().size(), 1u);

  // The report fails outright: no callback, no store.
  server_->setFault(2002, newsd::Fault{newsd::FailureMode::HttpError, 0});
  os::TouchDriver::advance(2);
  const auto& ad = sampleAd(1);
  VXAdHelper::share().request(ad.adid, 1, target(ad), *screen_);
  ASSERT_TRUE(waitHud(*screen_->view(), "网络异常"));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(callbacks().empty());
  EXPECT_TRUE(opened().empty());
}

TEST_F(VXAdHelperTest, OtherKindsAndUnsafeAddressesSendNothing) {
  const auto& ad = sampleAd(1);
  VXAdHelper::share().request(ad.adid, 3, target(ad), *screen_);
  VXAdHelper::share().request(ad.adid, 1, "file:///etc/passwd", *screen_);
  VXAdHelper::share().request(ad.adid, 2, "javascript:alert(1)", *screen_);
  VXAdHelper::share().request(ad.adid, 2, "not an address", *screen_);
  // A request that did go out would be answered long before this one.
  NQBaseRequest marker = NQBaseRequest::initWithOpcode(1040);
  bool answered = false;
  VXGlobalHelper::loadWithRequest(marker, [&](const std::optional<os::Dictionary>&) { answered = true; });
  ASSERT_TRUE(newstest::runUntil([&] { return answered; }));
  EXPECT_EQ(asked(2002), 0);
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);
  EXPECT_EQ(nav_->viewControllers().size(), 1u);
}

TEST_F(VXAdHelperTest, TheStoreOpensWithoutACallbackOrPastAFailedOne) {
  const auto& ad = sampleAd(1);
  VXAdHelper::share().requestCallback("", kServerAgent, target(ad));
  EXPECT_EQ(opened(), std::vector<std::string>{storeAddress(ad)});

  // A callback address that is no web address is never fetched.
  VXAdHelper::share().requestCallback("file:///etc/passwd", kServerAgent, target(ad));
  EXPECT_EQ(opened().size(), 2u);

  // A callback the advertiser's server refuses still opens the store.
  VXAdHelper::share().requestCallback(base_ + "/adcb/999999", kServerAgent, target(ad));
  ASSERT_TRUE(newstest::runUntil([&] { return opened().size() == 3; }));
  EXPECT_TRUE(callbacks().empty());
}

TEST_F(VXAdHelperTest, StoreAddressesAndItemIds) {
  EXPECT_EQ(VXAdHelper::appstoreAddress("https://store.example/cn/app/id123456789?mt=8"),
            "itms-apps://store.example/cn/app/id123456789?mt=8");
  EXPECT_EQ(VXAdHelper::appstoreAddress("http://a.example/r?to=http://b.example/"),
            "itms-apps://a.example/r?to=itms-apps://b.example/");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://store.example/cn/app/id123456789?mt=8"), "123456789");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://store.example/app/id42"), "42");
  EXPECT_EQ(VXAdHelper::appstoreItemId("itms-apps://store.example/app/name"), std::nullopt);

  // Newer systems need an item id; older ones take any store address.
  VXAdHelper::share().openAppstore("https://store.example/app/name");
  EXPECT_TRUE(opened().empty());
  {
    os::DeviceProfile older = newstest::phoneProfile();
    older.systemVersion = "5.1";
    os::DeviceProfileScope scope(older);
    VXAdHelper::share().openAppstore("https://store.example/app/name");
  }
  EXPECT_EQ(opened(), std::vector<std::string>{"itms-apps://store.example/app/name"});
  // Nothing but the store's own address ever reaches the platform.
  VXAdHelper::share().openAppstore("tel:110");
  VXAdHelper::share().openAppstore("weixin://id7");
  EXPECT_EQ(opened().size(), 1u);
}

TEST_F(VXAdHelperTest, CallbackRequestsCarryTheAgentOnlyWhenGiven) {
  auto withAgent = VXAdHelper::callbackRequest("http://cb.example/x", "Agent/2");
  ASSERT_TRUE(withAgent);
  EXPECT_EQ(withAgent->HTTPMethod(), "GET");
  EXPECT_EQ(withAgent->valueForHTTPHeaderField("User-Agent"), "Agent/2");
  auto plain = VXAdHelper::callbackRequest("http://cb.example/x", "");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->valueForHTTPHeaderField("User-Agent"), std::nullopt);
  EXPECT_FALSE(VXAdHelper::callbackRequest("", "Agent/2"));
  EXPECT_FALSE(VXAdHelper::callbackRequest("ftp://cb.example/x", "Agent/2"));
}

TEST_F(VXAdHelperTest, TheAdPageNeverLoadsAnUnsafeAddress) {
  auto page = VXAdWebViewController::initWithUrl("file:///etc/passwd", "", "");
  nav_->pushViewController(page, false);
  os::TouchDriver::settle();
  ASSERT_NE(page->webView(), nullptr);
  EXPECT_FALSE(page->webView()->request());
  EXPECT_FALSE(page->webView()->isLoading());
}

}  // namespace
}  // namespace adtest
