#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "os/core/Error.h"
#include "os/runtime/OperationQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/WakeFlag.h"

namespace os {
namespace {

struct Gate {
  std::mutex m;
  std::condition_variable cv;
  int count;
  explicit Gate(int n = 1) : count(n) {}
  void open() {
    std::lock_guard l(m);
    if (count > 0 && --count == 0) cv.notify_all();
  }
  void wait() {
    std::unique_lock l(m);
    cv.wait(l, [&] { return count <= 0; });
  }
};

class CountingOperation : public Operation {
 public:
  std::atomic<int> mainRuns{0};
  void main() override { ++mainRuns; }
};

// Finishes later, from another thread, like a network load.
class LaterOperation : public Operation {
 public:
  explicit LaterOperation(std::function<void(LaterOperation&)> onStart) : onStart_(std::move(onStart)) {}
  bool isAsynchronous() const override { return true; }
  void main() override { onStart_(*this); }
  void done() { finish(); }

 private:
  std::function<void(LaterOperation&)> onStart_;
};

TEST(Operation, CancelledBeforeStartFinishesWithoutRunningMain) {
  auto op = std::make_shared<CountingOperation>();
  int completions = 0;
  op->setCompletionBlock([&] { ++completions; });
  op->cancel();
  EXPECT_TRUE(op->isReady());
  op->start();
  EXPECT_EQ(op->mainRuns, 0);
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(op->isCancelled());
  EXPECT_EQ(completions, 1);
  EXPECT_THROW(op->start(), Exception);

  auto queue = OperationQueue::create("cancelled");
  auto queued = std::make_shared<CountingOperation>();
  queued->cancel();
  queue->addOperation(queued);
  queued->waitUntilFinished();
  EXPECT_EQ(queued->mainRuns, 0);
}

TEST(Operation, AnnouncesStateChangesAndRunsTheCompletionOnce) {
  auto op = std::make_shared<CountingOperation>();
  std::vector<std::string> keys;
  std::vector<bool> finishedAtAnnouncement;
  op->addObserver([&](Operation& o, std::string_view key) {
    keys.emplace_back(key);
    finishedAtAnnouncement.push_back(o.isFinished());
  });
  int completions = 0;
  op->setCompletionBlock([&] {
    ++completions;
    op->waitUntilFinished();  // must not wait for itself
  });
  op->start();
  op->didChangeValueForKey("isFinished");  // a second announcement must not run it again
  EXPECT_EQ(keys, (std::vector<std::string>{"isExecuting", "isExecuting", "isFinished", "isFinished"}));
  EXPECT_TRUE(finishedAtAnnouncement[2]);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(op->completionBlock()) << "the closure is released after it ran";
  EXPECT_EQ(op->mainRuns, 1);
}

TEST(Operation, WaitUntilFinishedReturnsOnlyAfterTheCompletionClosure) {
  auto queue = OperationQueue::create("wait");
  auto op = BlockOperation::create([] {});
  Gate finishedSeen, releaseCompletion;
  std::atomic<bool> completionRan{false};
  op->addObserver([&](Operation& o, std::string_view key) {
    if (key == "isFinished" && o.isFinished()) finishedSeen.open();
  });
  op->setCompletionBlock([&] {
    releaseCompletion.wait();
    completionRan = true;
  });
  std::atomic<bool> ranBeforeReturn{false};
  std::thread waiter([&] {
    op->waitUntilFinished();
    ranBeforeReturn = completionRan.load();
  });
  queue->addOperation(op);
  finishedSeen.wait();  // the operation is finished; its completion closure is still held back
  releaseCompletion.open();
  waiter.join();
  EXPECT_TRUE(ranBeforeReturn);
}

// Waiters are woken by the finish with one system call among them all, each sleeping at most once
// for it; a finished operation is waited for without any.
TEST(Operation, WaitersOfAFinishAreWokenWithOneCallAmongThem) {
  Gate started;
  std::shared_ptr<LaterOperation> op = std::make_shared<LaterOperation>([&](LaterOperation&) { started.open(); });
  op->start();
  started.wait();
  const auto sleeps = WakeFlag::sleepCalls(), wakes = WakeFlag::wakeCalls();
  std::vector<std::thread> waiters;
  std::atomic<int> returned{0};
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      op->waitUntilFinished();
      ++returned;
    });
  // Finished from another thread, as a load is.
  std::thread([&] { op->done(); }).join();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(returned.load(), 3);
  EXPECT_LE(WakeFlag::wakeCalls() - wakes, 1u);
  EXPECT_LE(WakeFlag::sleepCalls() - sleeps, 3u);
  const auto after = WakeFlag::sleepCalls() + WakeFlag::wakeCalls();
  op->waitUntilFinished();
  EXPECT_EQ(WakeFlag::sleepCalls() + WakeFlag::wakeCalls(), after);
}

TEST(OperationQueue, DependenciesOrderWorkAcrossQueues) {
  auto q1 = OperationQueue::create("deps1");
  auto q2 = OperationQueue::create("deps2");
  std::mutex m;
  std::vector<char> order;
  auto record = [&](char c) {
    return BlockOperation::create([&, c] {
      std::lock_guard l(m);
      order.push_back(c);
    });
  };
  auto a = record('a'), b = record('b'), c = record('c'), cancelled = record('x');
  c->addDependency(b);
  b->addDependency(a);
  b->addDependency(cancelled);
  EXPECT_FALSE(b->isReady());
  q1->setSuspended(true);
  q1->addOperation(c);
  q2->addOperation(b);
  q1->addOperation(a);
  q1->addOperation(cancelled);
  cancelled->cancel();  // a cancelled dependency still lets its dependents go
  q1->setSuspended(false);
  q1->waitUntilAllOperationsAreFinished();
  q2->waitUntilAllOperationsAreFinished();
  std::lock_guard l(m);
  EXPECT_EQ(order, (std::vector<char>{'a', 'b', 'c'}));
  EXPECT_EQ(q1->operationCount(), 0u);
}

TEST(OperationQueue, NeverRunsMoreThanTheMaximumAtOnce) {
  auto queue = OperationQueue::create("limited");
  queue->setMaxConcurrentOperationCount(2);
  std::atomic<int> active{0}, maxActive{0}, done{0};
  Gate twoStarted(2), release;
  for (int i = 0; i < 12; ++i)
    queue->addOperationWithBlock([&] {
      int now = ++active;
      int seen = maxActive.load();
      while (now > seen && !maxActive.compare_exchange_weak(seen, now)) {
      }
      twoStarted.open();
      release.wait();
      --active;
      ++done;
    });
  twoStarted.wait();
  release.open();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(done, 12);
  EXPECT_EQ(maxActive, 2);
}

TEST(OperationQueue, HigherPriorityStartsFirstAndSuspensionHoldsWork) {
  auto queue = OperationQueue::create("priorities");
  queue->setMaxConcurrentOperationCount(1);
  queue->setSuspended(true);
  std::vector<std::string> order;  // one at a time: max 1
  auto add = [&](std::string name, Operation::QueuePriority p) {
    auto op = BlockOperation::create([&order, name] { order.push_back(name); });
    op->setQueuePriority(p);
    queue->addOperation(op);
  };
  add("low", Operation::QueuePriority::Low);
  add("normal1", Operation::QueuePriority::Normal);
  add("veryHigh", Operation::QueuePriority::VeryHigh);
  add("normal2", Operation::QueuePriority::Normal);
  EXPECT_EQ(queue->operationCount(), 4u);
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<std::string>{"veryHigh", "normal1", "normal2", "low"}));

  // A priority changed while waiting in the queue counts; a finished one leaves nothing behind.
  order.clear();
  queue->setSuspended(true);
  std::vector<std::shared_ptr<Operation>> ops;
  for (std::string name : {"a", "b", "c"}) {
    ops.push_back(BlockOperation::create([&order, name] { order.push_back(name); }));
    queue->addOperation(ops.back());
  }
  ops[2]->setQueuePriority(Operation::QueuePriority::High);
  ops[0]->setQueuePriority(Operation::QueuePriority::VeryLow);
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueue, AsynchronousOperationHoldsItsSlotUntilItFinishes) {
  auto main = RunLoop::main();
  auto queue = OperationQueue::create("async");
  queue->setMaxConcurrentOperationCount(1);
  std::vector<std::string> log;  // main thread only
  auto first = std::make_shared<LaterOperation>([&](LaterOperation& op) {
    // main() returns at once; the work ends on the main thread later.
    main->post([&log, &op] {
      log.push_back("first finishes");
      op.done();
    });
  });
  auto second = BlockOperation::create([&] { main->post([&] { log.push_back("second runs"); }); });
  queue->addOperation(first);
  queue->addOperation(second);
  EXPECT_TRUE(main->runUntil([&] { return log.size() == 2; }, 30));
  EXPECT_EQ(log, (std::vector<std::string>{"first finishes", "second runs"}));
  queue->waitUntilAllOperationsAreFinished();
}

// An operation whose start only hands its work elsewhere is started by the thread that finds it
// ready: the one adding it, or the one finishing the operation before it. Any other operation
// still starts on a thread of the queue's, never on the caller's.
TEST(OperationQueue, AnOperationThatStartsWithoutWaitingIsStartedWhereItIsFoundReady) {
  class HandOver : public LaterOperation {
   public:
    using LaterOperation::LaterOperation;
    bool startsWithoutWaiting() const override { return true; }
  };
  auto queue = OperationQueue::create("hand-over");
  queue->setMaxConcurrentOperationCount(1);
  std::mutex m;
  std::vector<std::thread::id> startedOn;
  auto record = [&](LaterOperation&) {
    std::lock_guard l(m);
    startedOn.push_back(std::this_thread::get_id());
  };
  auto first = std::make_shared<HandOver>(record);
  auto second = std::make_shared<HandOver>(record);
  queue->addOperation(first);
  queue->addOperation(second);
  {
    std::lock_guard l(m);
    ASSERT_EQ(startedOn.size(), 1u) << "the first starts inside addOperation, the second waits for its slot";
    EXPECT_EQ(startedOn[0], std::this_thread::get_id());
  }
  std::thread::id finisher;
  std::thread([&] {
    finisher = std::this_thread::get_id();
    first->done();
  }).join();
  {
    std::lock_guard l(m);
    ASSERT_EQ(startedOn.size(), 2u) << "the second starts as the first finishes";
    EXPECT_EQ(startedOn[1], finisher);
  }
  second->done();

  Gate started;
  std::thread::id plainOn;
  auto plain = std::make_shared<LaterOperation>([&](LaterOperation& op) {
    plainOn = std::this_thread::get_id();
    started.open();
    op.done();
  });
  queue->addOperation(plain);
  started.wait();
  EXPECT_NE(plainOn, std::this_thread::get_id());
  queue->waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, CancelAllFinishesPendingOperationsWithoutRunningThem) {
  auto queue = OperationQueue::create("cancel all");
  queue->setSuspended(true);
  std::vector<std::shared_ptr<CountingOperation>> ops;
  std::atomic<int> completions{0};
  for (int i = 0; i < 3; ++i) {
    auto op = std::make_shared<CountingOperation>();
    op->setCompletionBlock([&] { ++completions; });
    queue->addOperation(op);
    ops.push_back(op);
  }
  EXPECT_THROW(queue->addOperation(ops[0]), Exception);
  queue->cancelAllOperations();
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  for (auto& op : ops) {
    op->waitUntilFinished();
    EXPECT_EQ(op->mainRuns, 0);
    EXPECT_TRUE(op->isFinished());
  }
  EXPECT_EQ(completions, 3);
}

TEST(OperationQueue, MainQueueRunsOperationsOnTheMainRunLoop) {
  auto op = BlockOperation::create([] {});
  bool onMain = false;
  op->addExecutionBlock([&] { onMain = RunLoop::isMainThread(); });
  OperationQueue::mainQueue()->addOperation(op);
  EXPECT_FALSE(op->isFinished());
  RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace os
