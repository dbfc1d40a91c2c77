#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/runtime/Timer.h"

namespace os {
namespace {

constexpr double kStart = 1.7e9;

Date at(double s) { return Date::fromTimeIntervalSince1970(kStart + s); }

TEST(RunLoopTimers, FireInDateOrderOnlyWhenTheVirtualClockReachesThem) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  std::vector<int> fired;
  std::vector<std::shared_ptr<Timer>> timers;
  for (auto [when, id] : std::vector<std::pair<double, int>>{{3, 3}, {1, 1}, {2, 21}, {2, 22}, {-5, 0}}) {
    auto t = Timer::create(at(when), 0, false, [&fired, id = id](Timer&) { fired.push_back(id); });
    loop->addTimer(t);
    timers.push_back(t);
  }
  loop->runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{0})) << "a fire date in the past fires at once";
  Clock::advance(1.5);
  loop->runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{0, 1}));
  Clock::advance(10);
  loop->runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 21, 22, 3})) << "same date: scheduling order";
  for (auto& t : timers) EXPECT_FALSE(t->isValid());
  EXPECT_EQ(loop->timerCount(), 0u);
}

TEST(RunLoopTimers, RepeatingTimerStaysOnItsGridAndSkipsMissedIntervals) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  int count = 0;
  auto t = Timer::scheduled(10, true, [&](Timer&) { ++count; });
  EXPECT_EQ(t->fireDate(), at(10));
  Clock::advance(10.5);
  loop->runUntilIdle();
  EXPECT_EQ(count, 1);
  EXPECT_EQ(t->fireDate(), at(20)) << "next = previous fire date + interval, not now + interval";
  Clock::advance(25);  // now 35.5: the firing at 20 is late, the one at 30 missed
  loop->runUntilIdle();
  EXPECT_EQ(count, 2);
  EXPECT_EQ(t->fireDate(), at(40));
  t->invalidate();
  Clock::advance(100);
  loop->runUntilIdle();
  EXPECT_EQ(count, 2);
  EXPECT_EQ(loop->timerCount(), 0u);
}

TEST(RunLoopTimers, InvalidateAndRescheduleFromCallbacks) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  std::vector<std::string> log;
  std::shared_ptr<Timer> other;
  auto first = Timer::scheduled(1, true, [&](Timer& self) {
    log.push_back("first");
    self.invalidate();
    other->invalidate();  // due in the same pass: must not fire any more
  });
  other = Timer::scheduled(1, false, [&](Timer&) { log.push_back("other"); });
  auto moved = Timer::scheduled(100, false, [&](Timer&) { log.push_back("moved"); });
  moved->setFireDate(at(2));
  Clock::advance(5);
  loop->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"first", "moved"}));
  EXPECT_EQ(loop->timerCount(), 0u);
}

TEST(RunLoopPerform, DelayedPerformsCancelledPerTarget) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  int a = 0, b = 0;
  int targetA, targetB;
  loop->performAfterDelay(&targetA, 1, [&] { ++a; });
  loop->performAfterDelay(&targetA, 2, [&] { ++a; });
  loop->performAfterDelay(&targetB, 1, [&] { ++b; });
  loop->cancelPreviousPerforms(&targetA);
  Clock::advance(3);
  loop->runUntilIdle();
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
}

TEST(RunLoopPerform, CancellingAmongManyTargetsWithdrawsExactlyThatTargetsPendingOnes) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  std::vector<char> targets(200);
  std::vector<int> ran(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    loop->performAfterDelay(&targets[i], 1, [&ran, i] { ++ran[i]; });
    loop->performAfterDelay(&targets[i], 2, [&ran, i] { ++ran[i]; });
  }
  Clock::advance(1);
  loop->runUntilIdle();                               // the first of each has run
  for (std::size_t i = 0; i < targets.size(); i += 2) loop->cancelPreviousPerforms(&targets[i]);
  loop->cancelPreviousPerforms(&targets[0]);          // nothing left for it
  loop->cancelPreviousPerforms(nullptr);
  loop->performAfterDelay(&targets[0], 0, [&ran] { ran[0] += 10; });
  EXPECT_EQ(loop->timerCount(), targets.size() / 2 + 1);
  Clock::advance(2);
  loop->runUntilIdle();
  for (std::size_t i = 0; i < targets.size(); ++i) EXPECT_EQ(ran[i], i == 0 ? 11 : i % 2 ? 2 : 1) << i;
  EXPECT_EQ(loop->timerCount(), 0u);
}

TEST(RunLoopPerform, ZeroDelayPerformsRunInOrderAfterAlreadyPostedWork) {
  VirtualClockScope clock(kStart);
  auto loop = RunLoop::current();
  std::vector<int> order;
  int target;
  loop->performAfterDelay(&target, 0, [&] { order.push_back(2); });
  loop->performAfterDelay(&target, 0, [&] { order.push_back(3); });
  loop->post([&] { order.push_back(1); });
  loop->runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopTasks, PostsFromSeveralThreadsKeepEachThreadsOrder) {
  auto loop = RunLoop::current();
  constexpr int kThreads = 4, kPerThread = 300;
  std::vector<std::vector<int>> seen(kThreads);  // only touched on the loop's thread
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) loop->post([&seen, t, i] { seen[t].push_back(i); });
    });
  for (auto& th : threads) th.join();
  loop->runUntilIdle();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

TEST(RunLoopTasks, NestedRunKeepsPostingOrder) {
  auto loop = RunLoop::current();
  std::vector<int> order;
  loop->post([&] {
    order.push_back(1);
    loop->post([&] { order.push_back(4); });
    loop->runUntilIdle();
  });
  loop->post([&] { order.push_back(2); });
  loop->post([&] { order.push_back(3); });
  loop->runUntilIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(RunLoopTasks, StopEndsRunAndRunUntilReportsItsCondition) {
  auto loop = RunLoop::current();
  int n = 0;
  loop->post([&] { ++n; });
  loop->post([&] { loop->stop(); });
  loop->run();
  EXPECT_EQ(n, 1);
  loop->post([&] { ++n; });
  EXPECT_TRUE(loop->runUntil([&] { return n == 2; }, 30));
  EXPECT_FALSE(loop->runUntil([] { return false; }, 0));
}

// A wait for a condition this thread's own events change sleeps between them; another thread
// that changes it wakes the loop; a stop or the time limit still end the wait.
TEST(RunLoopTasks, RunUntilWokenSeesWhatTheLoopsEventsAndItsWakersChanged) {
  auto loop = RunLoop::current();
  int n = 0;
  loop->post([&] { loop->post([&] { ++n; }); });
  EXPECT_TRUE(loop->runUntilWoken([&] { return n == 1; }, 30));

  std::atomic<bool> set{false};
  std::thread other([&] {
    set = true;
    loop->wakeUp();
  });
  EXPECT_TRUE(loop->runUntilWoken([&] { return set.load(); }, 30));
  other.join();

  loop->stop();
  EXPECT_FALSE(loop->runUntilWoken([] { return false; }, 30));
  EXPECT_FALSE(loop->runUntilWoken([] { return false; }, 0.01));
}

// With nothing to wake it, a wait for a woken condition sleeps until its time-out, which is real
// seconds under either clock: it ends there, not before and not at the loop's longest sleep,
// without looking again and again, and under the virtual clock neither waits for time to be
// advanced nor for a timer not yet due.
TEST(RunLoopTasks, RunUntilWokenEndsAtItsTimeOutWhenNothingWakesIt) {
  auto loop = RunLoop::current();
  for (bool virtualClock : {false, true}) {
    std::optional<VirtualClockScope> clock;
    if (virtualClock) clock.emplace(kStart);
    bool fired = false;
    auto timer = Timer::scheduled(virtualClock ? 60 : 3600, false, [&](Timer&) { fired = true; });
    int looks = 0;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop->runUntilWoken(
        [&] {
          ++looks;
          return false;
        },
        0.05));
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, std::chrono::milliseconds(50)) << virtualClock;
    // Well before a second: a wait ended only by the loop's longest sleep would take that long.
    EXPECT_LT(took, std::chrono::milliseconds(600)) << virtualClock;
    // A look before the wait and one or two after it: a loop that spun would look thousands of times.
    EXPECT_LE(looks, 20) << virtualClock;
    EXPECT_FALSE(fired) << virtualClock;
    timer->invalidate();
  }
}

// A post from another thread racing the loop's sleep: a wait that begins while a posted task is
// queued must end at once, whether the post came just before the loop looked at its tasks or
// between that look and the wait. The loop's wait is replaced by one that, owed a wake-up, looks
// without sleeping and counts a wait that would have slept through the task.
struct OwedWakeUps {
  static inline std::atomic<int> queued{0};  // posted from the other thread, not yet run
  static inline int lost = 0;
  static inline std::function<void()> beforeWait;  // runs once, in the window before the wait
  static int wait(::pollfd* fds, unsigned long count, int timeoutMs) {
    if (timeoutMs != 0 && beforeWait) std::exchange(beforeWait, nullptr)();
    if (timeoutMs == 0 || queued.load() == 0) return ::poll(fds, count, timeoutMs);
    const int ready = ::poll(fds, count, 0);
    if (ready == 0) ++lost;
    return ready;
  }
};

TEST(RunLoopTasks, APostRacingTheLoopsSleepWakesIt) {
  auto loop = RunLoop::current();
  loop->setWaitFunctionForTesting(&OwedWakeUps::wait);
  int ran = 0;
  // The task posted ends the run, so the run ends only once the loop has run it.
  auto postFromAnotherThread = [&] {
    std::thread([&] {
      ++OwedWakeUps::queued;
      loop->post([&] {
        --OwedWakeUps::queued;
        ++ran;
        loop->stop();
      });
    }).join();
  };
  // The stop's wake-up is taken before each run, so that it wakes no wait the post owed one.
  auto takeWakeUps = [&] { loop->runUntil([] { return false; }, 0.001); };
  for (int round = 1; round <= 3; ++round) {
    // Posted while the loop runs a task, which writes no wake-up: the loop looks before it waits.
    takeWakeUps();
    loop->post(postFromAnotherThread);
    loop->run();
    EXPECT_EQ(ran, 2 * round - 1);
    // Posted after the loop looked at its tasks, just before it waits: the post wakes it, and
    // again in the next round, once the loop took the last wake-up.
    takeWakeUps();
    OwedWakeUps::beforeWait = postFromAnotherThread;
    loop->run();
    EXPECT_EQ(ran, 2 * round);
  }
  loop->setWaitFunctionForTesting(nullptr);
  EXPECT_EQ(OwedWakeUps::lost, 0);
  EXPECT_EQ(OwedWakeUps::queued.load(), 0);
}

TEST(RunLoopThreads, TimerOnAnotherThreadFiresWhenTheClockAdvances) {
  VirtualClockScope clock(kStart);
  auto main = RunLoop::current();
  auto worker = Thread::create("timer.worker");
  worker->start();
  std::atomic<bool> scheduled{false};
  bool fired = false;
  worker->perform(
      [&] {
        Timer::scheduled(60, false, [&](Timer&) { main->post([&] { fired = true; }); });
        scheduled = true;
      },
      true);
  ASSERT_TRUE(scheduled);
  Clock::advance(60);
  EXPECT_TRUE(main->runUntil([&] { return fired; }, 30));
  worker->cancel();
  worker->join();
  EXPECT_TRUE(worker->isFinished());
}

TEST(RunLoopThreads, RunUntilDateReturnsOnceTheVirtualClockPassesTheDate) {
  VirtualClockScope clock(kStart);
  std::atomic<int> ticks{0};
  auto worker = Thread::create("until.date", [&] {
    Timer::scheduled(1, true, [&](Timer&) { ++ticks; });
    RunLoop::current()->runUntilDate(at(10));
  });
  worker->start();
  Clock::advance(10);  // wakes the worker wherever it is; the date is absolute
  worker->join();
  EXPECT_TRUE(worker->isFinished());
  EXPECT_LE(ticks.load(), 1) << "a repeating timer fires once for one late pass, not once per missed second";
}

TEST(RunLoopThreads, PerformWaitingOntoMainRunsWhileMainRuns) {
  auto main = RunLoop::main();
  ASSERT_TRUE(main->isCurrent());
  std::vector<std::string> log;
  main->perform([&] { log.push_back("inline"); }, true);
  EXPECT_EQ(log.size(), 1u) << "waiting from the main thread onto itself runs inline";

  std::atomic<bool> done{false};
  auto worker = Thread::create("perform.worker", [&] {
    EXPECT_FALSE(Thread::isMainThread());
    EXPECT_EQ(Thread::current()->name(), "perform.worker");
    main->perform([&] { log.push_back("from worker"); }, true);
    log.push_back("after wait");  // ordered after the main-thread write by the wait
    done = true;
  });
  worker->start();
  EXPECT_TRUE(main->runUntil([&] { return done.load(); }, 30));
  worker->join();
  EXPECT_EQ(log, (std::vector<std::string>{"inline", "from worker", "after wait"}));
  EXPECT_TRUE(Thread::isMainThread());
}

TEST(RunLoopSources, ReadableDescriptorWakesAWaitingLoop) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  auto main = RunLoop::current();
  auto worker = Thread::create("fd.worker");
  std::string received;  // written on the worker, read on main after the post
  bool gotIt = false;
  int token = worker->runLoop()->addSource(fds[0], RunLoop::kReadable, [&](int fd, unsigned ready) {
    EXPECT_TRUE(ready & RunLoop::kReadable);
    char buf[16];
    auto n = ::read(fd, buf, sizeof buf);
    std::string text(buf, n > 0 ? n : 0);
    main->post([&, text] {
      received += text;
      gotIt = true;
    });
  });
  worker->start();  // the loop is now blocked in poll with nothing else to do
  ASSERT_EQ(::write(fds[1], "ping", 4), 4);
  EXPECT_TRUE(main->runUntil([&] { return gotIt; }, 30));
  EXPECT_EQ(received, "ping");
  worker->runLoop()->removeSource(token);
  worker->cancel();
  worker->join();
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(RunLoopSources, CallbackMayRemoveItsOwnAndAnotherSource) {
  int a[2], b[2];
  ASSERT_EQ(::pipe(a), 0);
  ASSERT_EQ(::pipe(b), 0);
  auto loop = RunLoop::current();
  int calls = 0;
  int tokenA = 0, tokenB = 0;
  auto cb = [&](int, unsigned) {
    ++calls;
    loop->removeSource(tokenA);
    loop->removeSource(tokenB);
  };
  tokenA = loop->addSource(a[0], RunLoop::kReadable, cb);
  tokenB = loop->addSource(b[0], RunLoop::kReadable, cb);
  ASSERT_EQ(::write(a[1], "x", 1), 1);
  ASSERT_EQ(::write(b[1], "y", 1), 1);
  loop->runUntilIdle();
  loop->runUntilIdle();
  EXPECT_EQ(calls, 1);
  for (int fd : {a[0], a[1], b[0], b[1]}) ::close(fd);
}

}  // namespace
}  // namespace os
