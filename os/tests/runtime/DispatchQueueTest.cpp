#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"

namespace os {
namespace {

// Test-local latch so these tests do not depend on the library's own semaphore.
struct Latch {
  std::mutex m;
  std::condition_variable cv;
  int count;
  explicit Latch(int n) : count(n) {}
  void done() {
    std::lock_guard l(m);
    if (--count == 0) cv.notify_all();
  }
  void wait() {
    std::unique_lock l(m);
    cv.wait(l, [&] { return count <= 0; });
  }
  // A bound on waiting for another thread, not a clock of the test: false when it never came.
  bool waitFor(double seconds) {
    std::unique_lock l(m);
    return cv.wait_for(l, std::chrono::duration<double>(seconds), [&] { return count <= 0; });
  }
};

TEST(DispatchMainQueue, AsyncIsDrainedByRunUntilIdleInOrder) {
  auto loop = RunLoop::main();
  std::vector<int> order;
  DispatchQueue::main()->async([&] {
    order.push_back(1);
    EXPECT_TRUE(DispatchQueue::main()->isCurrent());
    DispatchQueue::main()->async([&] { order.push_back(3); });
  });
  DispatchQueue::main()->async([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  loop->runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchMainQueue, AsyncAfterFiresWhenTheVirtualClockPassesTheDelay) {
  VirtualClockScope clock;
  auto loop = RunLoop::main();
  std::vector<int> fired;
  DispatchQueue::main()->asyncAfter(5, [&] { fired.push_back(5); });
  DispatchQueue::main()->asyncAfter(2, [&] { fired.push_back(2); });
  loop->runUntilIdle();
  Clock::advance(4.9);
  loop->runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{2}));
  Clock::advance(0.1);
  loop->runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{2, 5}));
}

TEST(DispatchMainQueue, SyncFromAnotherThreadRunsOnTheMainThread) {
  std::atomic<bool> done{false};
  bool ranOnMain = false;
  std::thread t([&] {
    DispatchQueue::main()->sync([&] { ranOnMain = DispatchQueue::isMainThread(); });
    done = true;
  });
  EXPECT_TRUE(RunLoop::main()->runUntil([&] { return done.load(); }, 30));
  t.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(DispatchQueues, AsyncAfterOnABackgroundQueueRunsOnceTheClockAdvances) {
  VirtualClockScope clock;
  auto q = DispatchQueue::create("test.delayed");
  Latch latch(1);
  std::atomic<bool> ran{false};
  q->asyncAfter(30, [&] {
    ran = true;
    latch.done();
  });
  Clock::advance(30);
  latch.wait();
  EXPECT_TRUE(ran);
}

TEST(DispatchQueues, SerialQueueKeepsEachSubmittersOrderAndRunsOneAtATime) {
  auto q = DispatchQueue::create("test.serial");
  constexpr int kThreads = 4, kPerThread = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> active{0};
  std::atomic<int> overlap{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i)
        q->async([&, t, i] {
          if (active.fetch_add(1) != 0) ++overlap;
          seen[t].push_back(i);
          active.fetch_sub(1);
        });
    });
  for (auto& th : threads) th.join();
  q->sync([] {});
  EXPECT_EQ(overlap.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

TEST(DispatchQueues, BarrierRunsAloneBetweenTheTasksBeforeAndAfterIt) {
  auto q = DispatchQueue::create("test.concurrent", DispatchQueue::Kind::Concurrent);
  std::atomic<int> active{0};
  std::atomic<int> before{0}, after{0};
  std::atomic<bool> violated{false};
  std::atomic<bool> barrierDone{false};
  for (int i = 0; i < 50; ++i)
    q->async([&] {
      active++;
      if (barrierDone) violated = true;
      before++;
      active--;
    });
  q->asyncBarrier([&] {
    if (active.load() != 0 || before.load() != 50) violated = true;
    barrierDone = true;
  });
  Latch latch(50);
  for (int i = 0; i < 50; ++i)
    q->async([&] {
      if (!barrierDone) violated = true;
      after++;
      latch.done();
    });
  latch.wait();
  int seenInsideSyncBarrier = -1;
  q->syncBarrier([&] { seenInsideSyncBarrier = after.load(); });
  EXPECT_FALSE(violated);
  EXPECT_EQ(seenInsideSyncBarrier, 50);
}

TEST(DispatchQueues, ConcurrentQueueRunsTasksAtTheSameTime) {
  // Two tasks that each wait for the other meet only when they run side by side; run one after
  // the other, the first gives up waiting and says so.
  auto q = DispatchQueue::global(DispatchQueue::Priority::Low);
  Latch both(2), finished(2);
  std::atomic<int> met{0};
  for (int i = 0; i < 2; ++i)
    q->async([&] {
      both.done();
      if (both.waitFor(20)) ++met;
      finished.done();
    });
  finished.wait();
  EXPECT_EQ(met.load(), 2);
}

TEST(DispatchQueues, BurstsOfTasksThatWaitForEachOtherAllRunSideBySide) {
  // Each burst finds the workers of the last one asleep: every task beyond the awake workers must
  // wake one (or add one), or the tasks already running wait for it in vain.
  constexpr int kTasks = 8;
  auto q = DispatchQueue::global(DispatchQueue::Priority::Low);
  for (int burst = 0; burst < 10; ++burst) {
    Latch all(kTasks), finished(kTasks);
    std::atomic<int> met{0};
    for (int i = 0; i < kTasks; ++i)
      q->async([&] {
        all.done();
        if (all.waitFor(20)) ++met;
        finished.done();
      });
    finished.wait();
    ASSERT_EQ(met.load(), kTasks) << "burst " << burst;
  }
}

TEST(DispatchQueues, SpecificValuesFollowTheRunningQueue) {
  static const char key = 0;
  int mainValue = 1, queueValue = 2;
  DispatchQueue::main()->setSpecific(&key, &mainValue);
  auto q = DispatchQueue::create("test.specific");
  q->setSpecific(&key, &queueValue);
  EXPECT_EQ(DispatchQueue::currentSpecific(&key), &mainValue);
  void* inside = nullptr;
  bool current = false;
  q->sync([&] {
    inside = DispatchQueue::currentSpecific(&key);
    current = q->isCurrent();
  });
  EXPECT_EQ(inside, &queueValue);
  EXPECT_TRUE(current);
  EXPECT_FALSE(q->isCurrent());
  DispatchQueue::main()->setSpecific(&key, nullptr);
  EXPECT_EQ(DispatchQueue::currentSpecific(&key), nullptr);
}

TEST(DispatchQueuesDeathTest, SyncOntoTheCurrentSerialQueueStopsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto q = DispatchQueue::create("test.self");
        q->sync([&] { q->sync([] {}); });
      },
      "test.self.*deadlock");
  EXPECT_DEATH(DispatchQueue::main()->sync([] {}), "main queue.*deadlock");
}


// Whoever waits for background work to end (the reader waiting for a command's answer) must see
// work handed to a task asleep in its run loop from the moment it is handed, not only once the
// task's thread has woken to take it.
TEST(DispatchBackgroundCount, WorkPostedToATaskAsleepInItsLoopCountsBeforeTheTaskWakes) {
  auto queue = DispatchQueue::create("sleeps-in-its-loop");
  std::shared_ptr<RunLoop> loop;
  std::atomic<bool> done{false};
  Latch started(1), ended(1);
  queue->async([&] {
    loop = RunLoop::current();
    started.done();
    loop->runUntilWoken([&] { return done.load(); }, 60);
    ended.done();
  });
  ASSERT_TRUE(started.waitFor(30));
  for (int round = 0; round < 20; ++round) {
    // Until the task sleeps (and every other background task of the process has ended).
    auto main = RunLoop::main();
    ASSERT_TRUE(main->runUntil(
        [] {
          if (DispatchQueue::backgroundTaskCount() == 0) return true;
          DispatchQueue::wakeMainWhenBackgroundIdle();
          return false;
        },
        30));
    Latch ran(1);
    auto release = std::make_shared<Latch>(1);
    loop->post([&ran, release] {
      ran.done();
      release->wait();
    });
    EXPECT_GE(DispatchQueue::backgroundTaskCount(), 1u) << "round " << round;
    release->done();
    ASSERT_TRUE(ran.waitFor(30));
  }
  done = true;
  loop->post([] {});
  ASSERT_TRUE(ended.waitFor(30));
}

}  // namespace
}  // namespace os
