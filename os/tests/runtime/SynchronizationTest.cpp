#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/DispatchGroup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Once.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"

namespace os {
namespace {

// Keeps moving the virtual clock until told to stop, so a timed wait's deadline passes however
// late the waiter computed it.
class Advancer {
 public:
  Advancer() : thread_([this] {
      while (!stop_) {
        Clock::advance(1);
        std::this_thread::yield();
      }
    }) {}
  ~Advancer() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(Semaphore, CountsSignalsAndTimesOutOnTheVirtualClock) {
  VirtualClockScope clock;
  Semaphore s(1);
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_FALSE(s.waitFor(0)) << "a zero time-out only tries";
  s.signal();
  s.signal();
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_TRUE(s.waitFor(5));
  {
    Advancer advancer;
    EXPECT_FALSE(s.waitFor(30));
  }
  std::thread t([&] { s.signal(); });
  s.wait();
  t.join();
  EXPECT_FALSE(s.waitFor(0));
}

TEST(DispatchGroup, NotifiesOnceEveryMemberLeft) {
  DispatchGroup group;
  std::atomic<int> done{0};
  for (int i = 0; i < 10; ++i) group.async(DispatchQueue::global(), [&] { ++done; });
  group.enter();  // work that is not a queued task
  EXPECT_FALSE(group.waitFor(0));
  int seenByNotify = -1;
  bool notified = false;
  group.notify(DispatchQueue::main(), [&] {
    seenByNotify = done.load();
    notified = true;
  });
  std::thread t([&] { group.leave(); });
  t.join();
  EXPECT_TRUE(RunLoop::main()->runUntil([&] { return notified; }, 30));
  EXPECT_EQ(seenByNotify, 10);
  group.wait();
  bool emptyNotified = false;
  group.notify(DispatchQueue::main(), [&] { emptyNotified = true; });
  RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(emptyNotified) << "an empty group notifies at once";
}

TEST(DispatchGroup, TimedWaitEndsWhenTheVirtualClockPassesIt) {
  VirtualClockScope clock;
  DispatchGroup group;
  group.enter();
  {
    Advancer advancer;
    EXPECT_FALSE(group.waitFor(60));
  }
  group.leave();
  EXPECT_TRUE(group.waitFor(60));
}

TEST(ThreadSleep, SleepsOnTheVirtualClock) {
  VirtualClockScope clock;
  const double before = Clock::now();
  {
    Advancer advancer;
    Thread::sleepFor(120);
  }
  EXPECT_GE(Clock::now() - before, 120);
}

TEST(Once, RunsOnceAcrossThreads) {
  Once once;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once.call([&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace os
