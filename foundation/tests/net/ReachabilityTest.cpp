#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <thread>

#include "foundation/net/Reachability.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/TestSandbox.h"

namespace {

constexpr std::uint32_t R = os::kReachabilityFlagsReachable;
constexpr std::uint32_t W = os::kReachabilityFlagsIsWWAN;
constexpr std::uint32_t kRequired = os::kReachabilityFlagsConnectionRequired;
constexpr std::uint32_t kTransient = os::kReachabilityFlagsTransientConnection;
const std::string kHost = "news.example.com";

class ReachabilityTest : public ::testing::Test {
 protected:
  void TearDown() override { os::NotificationCenter::defaultCenter().removeObserver(this); }

  // Counts the broadcasts of `name` on `center`, checking they arrive on the main thread.
  void observe(os::NotificationCenter& center, const std::string& name) {
    center.addObserver(this, name, nullptr, [this](const os::Notification& n) {
      EXPECT_TRUE(os::RunLoop::isMainThread());
      lastObject_ = n.object;
      ++broadcasts_;
    });
  }
  bool waitForBroadcasts(int n) {
    return os::RunLoop::main()->runUntil([&] { return broadcasts_.load() >= n; }, 10.0);
  }

  os::TestSandbox sandbox_;
  os::testing::SharedFakeReachability fake_;
  std::atomic<int> broadcasts_{0};
  const void* lastObject_ = nullptr;
};

TEST_F(ReachabilityTest, StatusStringAndPictureFollowTheFlags) {
  auto watcher = Reachability::reachabilityWithHostName(kHost);
  ASSERT_TRUE(watcher);
  EXPECT_TRUE(watcher->reachableOnWWAN());

  fake_->setFlags(kHost, R);
  EXPECT_TRUE(watcher->isReachable());
  EXPECT_TRUE(watcher->isReachableViaWiFi());
  EXPECT_EQ(watcher->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_EQ(watcher->currentReachabilityString(), "WiFi");

  fake_->setFlags(kHost, R | W);
  EXPECT_TRUE(watcher->isReachableViaWWAN());
  EXPECT_FALSE(watcher->isReachableViaWiFi());
  EXPECT_EQ(watcher->currentReachabilityStatus(), ReachableViaWWAN);
  EXPECT_EQ(watcher->currentReachabilityString(), "Cellular");
  EXPECT_EQ(watcher->currentReachabilityFlags(), "WR -------");
  // Cellular may be ruled out.
  watcher->setReachableOnWWAN(false);
  EXPECT_FALSE(watcher->isReachable());
  EXPECT_EQ(watcher->currentReachabilityStatus(), NotReachable);
  EXPECT_EQ(watcher->currentReachabilityString(), "No Connection");
  watcher->setReachableOnWWAN(true);

  // A connection that must first be made and would be transient does not count.
  fake_->setFlags(kHost, R | kRequired | kTransient);
  EXPECT_FALSE(watcher->isReachable());
  EXPECT_TRUE(watcher->connectionRequired());
  EXPECT_EQ(watcher->currentReachabilityStatus(), NotReachable);
  fake_->setFlags(kHost, R | kRequired);
  EXPECT_TRUE(watcher->isReachable());

  fake_->setFlags(kHost, R | kRequired | os::kReachabilityFlagsConnectionOnDemand);
  EXPECT_TRUE(watcher->isConnectionOnDemand());
  EXPECT_FALSE(watcher->isInterventionRequired());
  fake_->setFlags(kHost, R | kRequired | os::kReachabilityFlagsInterventionRequired);
  EXPECT_TRUE(watcher->isInterventionRequired());
  EXPECT_FALSE(watcher->isConnectionOnDemand());

  fake_->setFlags(kHost, R | os::kReachabilityFlagsIsDirect);
  EXPECT_EQ(watcher->currentReachabilityFlags(), "-R ------d");

  // Flags that cannot be read answer as no connection.
  fake_->setFlags(kHost, std::nullopt);
  EXPECT_FALSE(watcher->isReachable());
  EXPECT_EQ(watcher->reachabilityFlags(), 0u);
  EXPECT_EQ(watcher->currentReachabilityStatus(), NotReachable);
  EXPECT_EQ(watcher->currentReachabilityString(), "No Connection");
}

TEST_F(ReachabilityTest, StatusTextsComeFromTheMainBundle) {
  sandbox_.writeBundleFile("Localizable.strings", "\"WiFi\" = \"无线局域网\";\n");
  auto watcher = Reachability::reachabilityForLocalWiFi();
  ASSERT_TRUE(watcher);
  fake_->setFlags("169.254.0.0", R | os::kReachabilityFlagsIsDirect);
  EXPECT_EQ(watcher->currentReachabilityString(), "无线局域网");
}

TEST_F(ReachabilityTest, TargetsOfTheCreators) {
  EXPECT_FALSE(Reachability::reachabilityWithHostName(""));
  sockaddr_in v6{};
  v6.sin_family = AF_INET6;
  EXPECT_FALSE(Reachability::reachabilityWithAddress(v6));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "10.0.0.1", &address.sin_addr);
  EXPECT_EQ(Reachability::reachabilityWithAddress(address)->key(), "10.0.0.1");
  EXPECT_EQ(Reachability::reachabilityForInternetConnection()->key(), "0.0.0.0");
  auto wifi = Reachability::reachabilityForLocalWiFi();
  EXPECT_EQ(wifi->key(), "169.254.0.0");
  EXPECT_TRUE(wifi->isLocalWiFi());
  EXPECT_FALSE(Reachability::reachabilityWithHostname(kHost)->isLocalWiFi());
}

TEST_F(ReachabilityTest, AStartedWatcherLivesOnItsOwnAndBroadcastsOnTheMainQueue) {
  observe(os::NotificationCenter::defaultCenter(), kReachabilityChangedNotification);
  std::atomic<int> up{0}, down{0};
  std::atomic<bool> blockOnMain{false};
  std::weak_ptr<Reachability> weak;
  const void* address = nullptr;
  {
    auto watcher = Reachability::reachabilityWithHostName(kHost);
    watcher->setReachableBlock([&](Reachability& r) {
      blockOnMain = blockOnMain || os::RunLoop::isMainThread();
      ++up;
    });
    watcher->setUnreachableBlock([&](Reachability&) { ++down; });
    ASSERT_TRUE(watcher->startNotifier());
    EXPECT_EQ(watcher->reachabilityObject(), watcher);
    ASSERT_TRUE(watcher->reachabilitySerialQueue());
    EXPECT_EQ(watcher->reachabilitySerialQueue()->label(), "com.corbewell.reachability");
    weak = watcher;
    address = watcher.get();
  }
  ASSERT_FALSE(weak.expired());

  fake_->setFlags(kHost, R);
  ASSERT_TRUE(waitForBroadcasts(1));
  EXPECT_EQ(lastObject_, address);
  fake_->setFlags(kHost, 0);
  ASSERT_TRUE(waitForBroadcasts(2));
  EXPECT_EQ(up.load(), 1);
  EXPECT_EQ(down.load(), 1);
  EXPECT_FALSE(blockOnMain.load());

  weak.lock()->stopNotifier();
  os::RunLoop::main()->runUntilIdle();
  // Released once stopped: nothing is left to broadcast.
  EXPECT_TRUE(os::RunLoop::main()->runUntil([&] { return weak.expired(); }, 10.0));
  fake_->setFlags(kHost, R);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(broadcasts_.load(), 2);
}

TEST_F(ReachabilityTest, StoppedWatcherHearsNothing) {
  observe(os::NotificationCenter::defaultCenter(), kReachabilityChangedNotification);
  auto watcher = Reachability::reachabilityWithHostName(kHost);
  int calls = 0;
  watcher->setReachableBlock([&](Reachability&) { ++calls; });
  ASSERT_TRUE(watcher->startNotifier());
  watcher->stopNotifier();
  EXPECT_FALSE(watcher->reachabilityObject());
  EXPECT_FALSE(watcher->reachabilitySerialQueue());
  fake_->setFlags(kHost, R);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(broadcasts_.load(), 0);
  // Starting again works, from the flags of that moment.
  ASSERT_TRUE(watcher->startNotifier());
  fake_->setFlags(kHost, 0);
  ASSERT_TRUE(waitForBroadcasts(1));
  watcher->stopNotifier();
}

TEST_F(ReachabilityTest, AVariantClassifiesPostsAndDeliversItsOwnWay) {
  // The push client's rule: cellular is 3, and only a direct link counts for the local network.
  os::NotificationCenter ownCenter;
  ReachabilityProfile push;
  push.classifier = [](std::uint32_t flags, const Reachability& watcher) -> long {
    if (watcher.isLocalWiFi()) return (flags & R) && (flags & os::kReachabilityFlagsIsDirect) ? 2 : 0;
    if (!(flags & R)) return 0;
    if (flags & W) return 3;
    return flags & kRequired ? 0 : 2;
  };
  push.notificationName = "kNetworkReachabilityChangedNotification";
  push.center = &ownCenter;
  push.delivery = ReachabilityProfile::Delivery::StartingRunLoop;
  push.broadcast = ReachabilityProfile::Broadcast::DeliveryThread;

  auto internet = Reachability::reachabilityForInternetConnection(push);
  fake_->setFlags("0.0.0.0", R | W);
  EXPECT_EQ(internet->currentReachabilityStatus(), 3);
  auto wifi = Reachability::reachabilityForLocalWiFi(push);
  fake_->setFlags("169.254.0.0", R);
  EXPECT_EQ(wifi->currentReachabilityStatus(), 0);

  observe(ownCenter, "kNetworkReachabilityChangedNotification");
  observe(os::NotificationCenter::defaultCenter(), kReachabilityChangedNotification);
  ASSERT_TRUE(internet->startNotifier());
  EXPECT_FALSE(internet->reachabilitySerialQueue());
  fake_->setFlags("0.0.0.0", R);
  // Delivered on this (the starting) thread's run loop, only when it runs.
  EXPECT_EQ(broadcasts_.load(), 0);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(broadcasts_.load(), 1);
  EXPECT_EQ(lastObject_, internet.get());
  internet->stopNotifier();
  ownCenter.removeObserver(this);
}

}  // namespace
