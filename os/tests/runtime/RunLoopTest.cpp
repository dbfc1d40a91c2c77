#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/DispatchGroup.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/OperationQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"
#include "os/runtime/Timer.h"
#include "os/testing/Waits.h"

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
    const auto delayedBefore = testing::timeWaitingForAProcessor();
    EXPECT_FALSE(loop->runUntilWoken(
        [&] {
          ++looks;
          return false;
        },
        0.05));
    const auto took = std::chrono::steady_clock::now() - began;
    const auto delayed = testing::timeWaitingForAProcessor() - delayedBefore;
    EXPECT_GE(took, std::chrono::milliseconds(50)) << virtualClock;
    // Well before a second: a wait ended only by the loop's longest sleep would take that long.
    // What a loaded machine kept the thread waiting for a processor is not the wait's own.
    EXPECT_LT(took - delayed, std::chrono::milliseconds(600)) << virtualClock;
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

// The main loop's wait, counting the wake-ups it takes (its wake-up pipe is the first descriptor)
// and running a hook once in the window before it sleeps, when a post must wake it.
struct CountedWakeUps {
  static inline std::atomic<int> taken{0};
  static inline std::function<void()> beforeSleep;
  static int wait(::pollfd* fds, unsigned long count, int timeoutMs) {
    if (timeoutMs != 0 && beforeSleep) std::exchange(beforeSleep, nullptr)();
    const int ready = ::poll(fds, count, timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) ++taken;
    return ready;
  }
  // Takes what is left of earlier tests' wake-ups, then counts from zero.
  static void install(const std::shared_ptr<RunLoop>& loop) {
    loop->runUntil([] { return false; }, 0.001);
    taken = 0;
    loop->setWaitFunctionForTesting(&wait);
  }
};

// Work that keeps a thread busy for a few microseconds without waiting on anything.
int busyWork(int seed) {
  std::vector<int> v(512);
  for (int i = 0; i < 512; ++i) v[i] = (seed * 7919 + i * 104729) % 1000;
  std::sort(v.begin(), v.end());
  return v[seed % 512];
}

// A busy network thread finishing requests posts to the sleeping main loop again and again; each
// wake-up costs it a system call. While it stays busy, the wake-ups it owes wait for it to be done.
TEST(RunLoopWakeUps, ABusyLoopThreadWakesASleepingLoopOnceForAllItPostedMeanwhile) {
  auto loop = RunLoop::current();
  auto worker = Thread::create("wakeups.burst");
  worker->start();
  constexpr int kTasks = 300;
  std::vector<int> order;
  std::atomic<int> sink{0};
  CountedWakeUps::install(loop);
  // Begun once the main loop is about to sleep, so that every post finds it asleep.
  CountedWakeUps::beforeSleep = [&] {
    worker->perform(
        [&] {
          for (int i = 0; i < kTasks; ++i) {
            sink += busyWork(i);
            loop->post([&order, i] { order.push_back(i); });
          }
        },
        false);
  };
  EXPECT_TRUE(loop->runUntilWoken([&] { return order.size() == kTasks; }, 30));
  loop->setWaitFunctionForTesting(nullptr);
  EXPECT_EQ(CountedWakeUps::taken.load(), 1);
  ASSERT_EQ(order.size(), std::size_t{kTasks});
  for (int i = 0; i < kTasks; ++i) EXPECT_EQ(order[i], i);
  worker->cancel();
  worker->join();
}

// A holder that blocks lets its wake-ups go first: what it waits for may be the task it posted.
// Every way a thread blocks in this layer, each from a task on a loop thread, waiting for the
// main loop, which sleeps until woken.
TEST(RunLoopWakeUps, AThreadThatBlocksLetsTheWakeUpsItHoldsGoFirst) {
  auto loop = RunLoop::current();
  struct Road {
    const char* name;
    // Posts work to the main loop and blocks until the main loop has run it.
    std::function<void(const std::function<void()>& onMain)> postAndBlock;
  };
  const std::vector<Road> roads{
      {"semaphore wait",
       [&](const std::function<void()>& onMain) {
         auto s = std::make_shared<Semaphore>(0);
         loop->post([s, onMain] { onMain(); s->signal(); });
         s->wait();
       }},
      {"semaphore wait with a time-out",
       [&](const std::function<void()>& onMain) {
         auto s = std::make_shared<Semaphore>(0);
         loop->post([s, onMain] { onMain(); s->signal(); });
         EXPECT_TRUE(s->waitFor(60));
       }},
      {"group wait",
       [&](const std::function<void()>& onMain) {
         DispatchGroup group;
         group.async(DispatchQueue::main(), onMain);
         group.wait();
       }},
      {"perform onto the main loop, waiting",
       [&](const std::function<void()>& onMain) { loop->perform(onMain, true); }},
      {"main queue sync", [&](const std::function<void()>& onMain) { DispatchQueue::main()->sync(onMain); }},
      {"operation waited for",
       [&](const std::function<void()>& onMain) {
         auto op = BlockOperation::create(onMain);
         OperationQueue::mainQueue()->addOperation(op);
         op->waitUntilFinished();
       }},
      {"thread joined",
       [&](const std::function<void()>& onMain) {
         auto s = std::make_shared<Semaphore>(0);
         loop->post([s, onMain] { onMain(); s->signal(); });
         auto joined = Thread::create("wakeups.joined", [s] { s->wait(); });
         joined->start();
         joined->join();
       }},
      {"operation queue waited for",
       [&](const std::function<void()>& onMain) {
         OperationQueue::mainQueue()->addOperationWithBlock(onMain);
         OperationQueue::mainQueue()->waitUntilAllOperationsAreFinished();
       }},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    auto worker = Thread::create("wakeups.block");
    worker->start();
    std::atomic<bool> back{false};
    int wakeUpsBeforeRun = -1;
    CountedWakeUps::install(loop);
    CountedWakeUps::beforeSleep = [&] {
      worker->perform(
          [&] {
            road.postAndBlock([&] { wakeUpsBeforeRun = CountedWakeUps::taken.load(); });
            back = true;
            loop->post([] {});
          },
          false);
    };
    EXPECT_TRUE(loop->runUntilWoken([&] { return back.load(); }, 30));
    loop->setWaitFunctionForTesting(nullptr);
    // Woken by the holder, not by the wait's own time limit a second later.
    EXPECT_EQ(wakeUpsBeforeRun, 1);
    worker->cancel();
    worker->join();
  }
}

// A dispatch worker's wake-up is held the same way, and let go the same way: a loop thread that
// hands a job to a queue and then blocks until the job has run is not left waiting.
TEST(RunLoopWakeUps, AJobHandedToAQueueRunsWhileItsHolderBlocksForIt) {
  auto worker = Thread::create("wakeups.queue");
  worker->start();
  const std::vector<std::shared_ptr<DispatchQueue>> queues{DispatchQueue::global(),
                                                           DispatchQueue::create("wakeups.serial")};
  for (const auto& queue : queues) {
    // Lets the pool's workers go back to sleep, so that the job needs a wake-up.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::atomic<bool> ran{false}, waited{false};
    worker->perform(
        [&] {
          Semaphore done(0);
          queue->async([&] {
            ran = true;
            done.signal();
          });
          waited = done.waitFor(30);
        },
        true);
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(waited.load());
  }
  worker->cancel();
  worker->join();
}

// A holder that stays busy for long still lets a held wake-up go after at most a millisecond.
TEST(RunLoopWakeUps, AHolderThatStaysBusyLetsItsWakeUpGoSoon) {
  auto loop = RunLoop::current();
  auto worker = Thread::create("wakeups.busy");
  worker->start();
  std::atomic<bool> ran{false};
  std::atomic<int> rounds{0};
  std::atomic<int> sink{0};
  constexpr int kMostRounds = 2'000'000;
  // Runs task after task until the main loop has run its task: it never waits.
  std::function<void()> keepBusy = [&] {
    if (ran.load() || ++rounds >= kMostRounds) return;
    sink += busyWork(rounds.load());
    worker->runLoop()->post(keepBusy);
  };
  int wakeUpsBeforeRun = -1;
  CountedWakeUps::install(loop);
  CountedWakeUps::beforeSleep = [&] {
    worker->perform(
        [&] {
          loop->post([&] {
            wakeUpsBeforeRun = CountedWakeUps::taken.load();
            ran = true;
          });
          keepBusy();
        },
        false);
  };
  EXPECT_TRUE(loop->runUntilWoken([&] { return ran.load(); }, 30));
  loop->setWaitFunctionForTesting(nullptr);
  EXPECT_EQ(wakeUpsBeforeRun, 1);
  EXPECT_LT(rounds.load(), kMostRounds) << "the main loop ran its task only once the worker stopped";
  worker->cancel();
  worker->join();
}

}  // namespace
}  // namespace os
