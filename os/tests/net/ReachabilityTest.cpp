#include <gtest/gtest.h>

#include <future>

#include "os/net/NetworkReachability.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/testing/FakeReachabilityProvider.h"

namespace os {
namespace {

class ReachabilityTest : public ::testing::Test {
 protected:
  testing::SharedFakeReachability fake;
};

TEST_F(ReachabilityTest, TargetsAreKeyedByHostNameOrDottedAddress) {
  fake->setFlags("news.example.test", kReachabilityFlagsReachable);
  fake->setFlags("169.254.0.0", kReachabilityFlagsReachable | kReachabilityFlagsIsDirect);
  fake->setFlags("0.0.0.0", std::nullopt);
  EXPECT_EQ(NetworkReachability::withHostName("news.example.test")->flags(), kReachabilityFlagsReachable);
  EXPECT_EQ(NetworkReachability::forLinkLocalNetwork()->flags(), kReachabilityFlagsReachable | kReachabilityFlagsIsDirect);
  EXPECT_FALSE(NetworkReachability::forInternetConnection()->flags()) << "unreadable flags";
  sockaddr_in linkLocal{};
  linkLocal.sin_family = AF_INET;
  linkLocal.sin_addr.s_addr = htonl(0xA9FE0000u);
  EXPECT_EQ(NetworkReachability::withAddress(linkLocal)->target().key(), "169.254.0.0");
  EXPECT_EQ(NetworkReachability::withHostName("other.example.test")->flags(), 0u);
  EXPECT_FALSE(NetworkReachability::withHostName(""));
  sockaddr_in v6like{};
  v6like.sin_family = AF_INET6;
  EXPECT_FALSE(NetworkReachability::withAddress(v6like));
}

TEST_F(ReachabilityTest, AChangeFiresTheCallbackOnTheScheduledRunLoop) {
  auto thread = Thread::create("watcher");
  thread->start();
  auto handle = NetworkReachability::withAddress(0u);
  std::promise<std::pair<std::uint32_t, std::thread::id>> fired;
  std::atomic<int> calls{0};
  handle->setCallback([&](NetworkReachability&, std::uint32_t flags) {
    if (calls++ == 0) fired.set_value({flags, std::this_thread::get_id()});
  });
  ASSERT_TRUE(handle->scheduleWithRunLoop(thread->runLoop()));
  std::thread::id watcherId;
  thread->perform([&] { watcherId = std::this_thread::get_id(); }, true);

  fake->setFlags("news.example.test", kReachabilityFlagsReachable);  // another target: no call
  fake->setFlags("0.0.0.0", kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
  auto future = fired.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  auto [flags, id] = future.get();
  EXPECT_EQ(flags, kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
  EXPECT_EQ(id, watcherId);
  thread->perform([] {}, true);  // anything else posted has run by now
  EXPECT_EQ(calls.load(), 1);

  handle->unschedule();
  fake->setFlags("0.0.0.0", 0u);
  thread->perform([] {}, true);
  EXPECT_EQ(calls.load(), 1) << "no callback once unscheduled";
  thread->cancel();
  thread->join();
}

TEST_F(ReachabilityTest, SameFlagsAgainDoNotFireAndADispatchQueueCanDeliver) {
  auto loop = RunLoop::current();
  fake->setFlags("0.0.0.0", kReachabilityFlagsReachable);
  auto handle = NetworkReachability::withAddress(0u);
  std::vector<std::uint32_t> seen;
  handle->setCallback([&](NetworkReachability&, std::uint32_t f) { seen.push_back(f); });
  handle->scheduleWithRunLoop(loop);
  fake->setFlags("0.0.0.0", kReachabilityFlagsReachable);
  loop->runUntilIdle();
  EXPECT_TRUE(seen.empty());
  fake->setFlags("0.0.0.0", 0u);
  fake->setFlags("0.0.0.0", kReachabilityFlagsReachable);
  loop->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0u, kReachabilityFlagsReachable})) << "in order, one per change";

  auto queue = DispatchQueue::create("reachability.test");
  std::promise<std::uint32_t> viaQueue;
  auto other = NetworkReachability::withHostName("q.example.test");
  other->setCallback([&](NetworkReachability&, std::uint32_t f) { viaQueue.set_value(f); });
  other->setDispatchQueue(queue);
  fake->setFlags("q.example.test", kReachabilityFlagsReachable | kReachabilityFlagsIsDirect);
  auto future = viaQueue.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get(), kReachabilityFlagsReachable | kReachabilityFlagsIsDirect);
  other->unschedule();
  queue->sync([] {});
}

TEST(SystemReachability, LoopbackIsALocalDirectAddress) {
  auto provider = ReachabilityProvider::makeSystemProvider();
  auto flags = provider->flags(ReachabilityTarget{{}, 0x7F000001u});
  ASSERT_TRUE(flags);
  EXPECT_EQ(*flags, kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect);
  auto unresolvable = provider->flags(ReachabilityTarget{"no-such-host.invalid", std::nullopt});
  EXPECT_EQ(unresolvable, 0u);
  auto anyTarget = provider->flags(ReachabilityTarget{{}, 0u});
  ASSERT_TRUE(anyTarget);
  EXPECT_EQ(*anyTarget & kReachabilityFlagsIsWWAN, 0u) << "never cellular on this platform";
}

}  // namespace
}  // namespace os
