#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/DispatchGroup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Once.h"
#include "os/runtime/Operation.h"
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

// An asynchronous operation that another thread finishes.
class HandedOver : public Operation {
 public:
  bool isAsynchronous() const override { return true; }
  void done() { finish(); }
};

// Quick hand-overs reach a waiter before it sleeps (or a run loop still busy, which is not woken
// for them), slow ones a waiter asleep. Every one must arrive, exactly once, whichever way.
TEST(Handoffs, ArriveWhetherTheWaiterIsAwakeOrAsleep) {
  constexpr int kRounds = 300;
  const auto pace = [](int i) {
    if (i % 40 >= 30) std::this_thread::sleep_for(std::chrono::microseconds(400));
  };
  Semaphore toPeer, toUs;
  std::vector<std::shared_ptr<HandedOver>> operations(kRounds);
  for (auto& op : operations) op = std::make_shared<HandedOver>();
  auto peerLoop = Thread::create("handoff.peer");
  peerLoop->start();
  std::atomic<int> queued{0}, looped{0};
  int expectedQueued = 0;

  std::thread peer([&] {
    for (int i = 0; i < kRounds; ++i) {
      toPeer.wait();
      pace(i);
      operations[i]->done();
      toUs.signal();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    operations[i]->start();
    toPeer.signal();
    operations[i]->waitUntilFinished();
    EXPECT_TRUE(operations[i]->isFinished());
    toUs.wait();
    // Workers of the global queue (now and then a burst, so woken sleepers find their job taken),
    // then the peer's run loop, each answering through a semaphore.
    const int jobs = i % 40 == 5 ? 8 : 1;
    expectedQueued += jobs;
    for (int j = 0; j < jobs; ++j)
      DispatchQueue::global()->async([&, i] {
        pace(i);
        ++queued;
        toUs.signal();
      });
    for (int j = 0; j < jobs; ++j) toUs.wait();
    peerLoop->runLoop()->post([&, i] {
      pace(i);
      ++looped;
      toUs.signal();
    });
    toUs.wait();
  }
  peer.join();
  peerLoop->cancel();
  peerLoop->join();
  EXPECT_EQ(queued.load(), expectedQueued);
  EXPECT_EQ(looped.load(), kRounds);
  EXPECT_FALSE(toUs.waitFor(0)) << "no signal was counted twice";
  EXPECT_FALSE(toPeer.waitFor(0));
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
