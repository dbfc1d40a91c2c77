// The client's reachability monitor and its notice view.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "qqconnect/requests/TCOSDKReachability.h"
#include "qqconnect/web/UINotifyView.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/NotificationCounter.h"
#include "os/views/Label.h"

namespace {

TEST(TCOSDKReachability, ClassifiesFlagsByItsOwnRuleAndBroadcastsChanges) {
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(0x40002, false), 1);
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(7, false), 0);
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(6, false), 2);
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(2 | 0x20000 | 0x10000, false), 2);
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(2 | 8, false), 0);
  EXPECT_EQ(TCOSDKReachability::networkStatusForFlags(4, false), 0);

  os::testing::SharedFakeReachability fake;
  fake->setFlags("169.254.0.0", 2);
  auto wifi = TCOSDKReachability::reachabilityForLocalWiFi();
  EXPECT_EQ(wifi->key(), "TCOSDKLocalWiFiConnection");
  EXPECT_EQ(wifi->currentReachabilityStatus(), 0);
  fake->setFlags("169.254.0.0", 2 | 0x20000);
  EXPECT_TRUE(wifi->isReachableViaWiFi());

  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "10.0.0.1", &address.sin_addr);
  EXPECT_EQ(TCOSDKReachability::makeAddressKey(address), "10.0.0.1");
  EXPECT_TRUE(TCOSDKReachability::reachabilityWithAddress(address)->isEqual(*TCOSDKReachability::reachabilityWithAddress(address)));

  auto host = TCOSDKReachability::reachabilityWithHostName("portal.example");
  ASSERT_TRUE(host->startNotifier());
  os::testing::NotificationCounter heard(kTCOSDKReachabilityChangedNotification, nullptr, host->notificationObject());
  fake->setFlags("portal.example", 0x40002);
  os::RunLoop::main()->runUntil([&] { return heard.count() > 0; }, 10);
  EXPECT_EQ(heard.count(), 1);
  EXPECT_TRUE(host->isReachableViaWWAN());
  host->stopNotifier();
}

TEST(UINotifyView, FadesInStaysAndFadesOutOnTheClock) {
  os::VirtualClockScope clock;
  auto notice = UINotifyView::notifyViewWithImage(nullptr, "网络不可用");
  EXPECT_EQ(notice->frame(), UINotifyView::defaultFrame());
  EXPECT_EQ(notice->currentOpacity(), 0);
  bool done = false;
  notice->presentWithDuration(1.0, 0.5, nullptr, [&] { done = true; });
  auto step = [](double seconds) {
    os::Clock::advance(seconds);
    os::RunLoop::main()->runUntilIdle();
  };
  step(0.5);
  EXPECT_DOUBLE_EQ(notice->currentOpacity(), 0.75);
  EXPECT_TRUE(notice->isAnimating());
  notice->setText("已上传");
  EXPECT_EQ(notice->textLabel()->text(), "已上传");
  step(1.0);
  EXPECT_TRUE(notice->isAnimating());
  step(0.5);
  EXPECT_EQ(notice->currentOpacity(), 0);
  EXPECT_FALSE(notice->isAnimating());
  EXPECT_TRUE(done);
}

}  // namespace
