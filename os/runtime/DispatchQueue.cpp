#include "os/runtime/DispatchQueue.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <vector>

#include "os/runtime/ClockWait.h"
#include "os/runtime/CrashHooks.h"
#include "os/runtime/Fatal.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/runtime/Timer.h"
#include "os/runtime/WakeFlag.h"

namespace os {

namespace {

// The queues whose tasks the calling thread is running, innermost last.
thread_local std::vector<const DispatchQueue*> tQueueStack;

struct QueueScope {
  explicit QueueScope(const DispatchQueue* q) { tQueueStack.push_back(q); }
  ~QueueScope() { tQueueStack.pop_back(); }
};

// Worker threads shared by every queue, picking the highest priority first. The pool adds a
// thread whenever work arrives and no thread is idle, up to a generous cap, so tasks that block
// (waiting for a sync, a semaphore, a network answer) do not hold up the others.
class WorkerPool {
 public:
  static WorkerPool& shared() {
    // Never destroyed: workers may still be running when static destructors run.
    static WorkerPool* pool = new WorkerPool;
    return *pool;
  }

  void submit(int priority, std::function<void()> job) {
    bool spawn = false;
    Sleeper* wake = nullptr;
    {
      std::lock_guard lock(mutex_);
      jobs_[priority].push_back(std::move(job));
      ++queued_;
      if (idle_ < queued_ && threads_ < kMaxThreads) {
        ++threads_;
        spawn = true;
      }
      // A busy loop thread wakes a sleeper when it is about to wait itself (see RunLoop): the
      // thread it hands a completion to need not be woken before the one waiting for its answer.
      if (!spawn && RunLoop::holdWakeUp(this, &WorkerPool::wakeForQueued)) return;
      wake = sleeperToWake();
    }
    if (spawn) {
      std::thread([this] {
        CrashHooks::ThreadStack crashStack;
        work();
      }).detach();
    }
    // Outside the lock: a sleeper lives as long as its worker, which is for good.
    if (wake) wake->woken.set();
  }

 private:
  static constexpr int kMaxThreads = 64;

  // Woken by a flag rather than a condition variable: a worker woken goes to its job without
  // taking the pool's lock marked as wanted, whose release would cost it a system call.
  struct Sleeper {
    WakeFlag woken;
  };

  // With the lock held. Idle workers that are awake (between jobs, or woken and not yet back)
  // take the queued jobs before they sleep; only jobs beyond those wake a sleeper: the one that
  // went to sleep last, whose cache is warmest.
  Sleeper* sleeperToWake() {
    const int awake = idle_ - static_cast<int>(sleepers_.size());
    if (queued_ <= awake || sleepers_.empty()) return nullptr;
    Sleeper* wake = sleepers_.back();
    sleepers_.pop_back();
    return wake;
  }

  // A held wake-up let go: as many sleepers as the jobs queued meanwhile need.
  static void wakeForQueued(void* owner) {
    auto* pool = static_cast<WorkerPool*>(owner);
    std::vector<Sleeper*> wake;
    {
      std::lock_guard lock(pool->mutex_);
      while (Sleeper* s = pool->sleeperToWake()) wake.push_back(s);
    }
    for (Sleeper* s : wake) s->woken.set();
  }

  // With the lock held: until there is work, or at least a wake-up meant for this worker (taken
  // off the sleepers by whoever wakes it).
  void sleep(std::unique_lock<std::mutex>& lock, Sleeper& me) {
    while (queued_ == 0) {
      me.woken.clear();
      sleepers_.push_back(&me);
      lock.unlock();
      me.woken.wait();
      lock.lock();
    }
  }

  void work() {
    Sleeper me;
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      sleep(lock, me);
      --idle_;
      std::function<void()> job;
      for (auto& q : jobs_) {
        if (!q.empty()) {
          job = std::move(q.front());
          q.pop_front();
          break;
        }
      }
      --queued_;
      lock.unlock();
      job();
      job = nullptr;  // captured state goes away outside the lock
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::array<std::deque<std::function<void()>>, 4> jobs_;
  int queued_ = 0;
  // Workers not running a job, asleep or not.
  int idle_ = 0;
  // Idle workers that sleep, the latest last.
  std::vector<Sleeper*> sleepers_;
  int threads_ = 0;
};

// Delayed submissions wait as timers on one internal thread's run loop, which Clock::advance
// wakes like any other.
RunLoop& delayLoop() {
  static std::shared_ptr<Thread>* thread = [] {
    auto* t = new std::shared_ptr<Thread>(Thread::create("dispatch.delays"));
    (*t)->start();
    return t;
  }();
  return *(*thread)->runLoop();
}

struct Waiter {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  void signal() {
    std::lock_guard lock(m);
    done = true;
    cv.notify_all();
  }
  void wait() {
    std::unique_lock lock(m);
    waitUntilReady(lock, cv, [&] { return done; });
  }
};

}  // namespace

DispatchQueue::DispatchQueue(PrivateTag, std::string label, Kind kind, Priority priority, bool isMain, bool isGlobal)
    : label_(std::move(label)), kind_(kind), priority_(priority), isMain_(isMain), isGlobal_(isGlobal) {}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  static auto* q = new std::shared_ptr<DispatchQueue>(std::make_shared<DispatchQueue>(
      PrivateTag{}, "main", Kind::Serial, Priority::High, true, false));
  return *q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(Priority priority) {
  static auto* qs = [] {
    auto* a = new std::array<std::shared_ptr<DispatchQueue>, 4>;
    const char* names[] = {"global.high", "global.default", "global.low", "global.background"};
    for (int i = 0; i < 4; ++i)
      (*a)[i] = std::make_shared<DispatchQueue>(PrivateTag{}, names[i], Kind::Concurrent, static_cast<Priority>(i),
                                                false, true);
    return a;
  }();
  return (*qs)[static_cast<int>(priority)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, Kind kind, Priority priority) {
  return std::make_shared<DispatchQueue>(PrivateTag{}, std::move(label), kind, priority, false, false);
}

bool DispatchQueue::isMainThread() { return RunLoop::isMainThread(); }

bool DispatchQueue::isCurrent() const {
  for (auto* q : tQueueStack)
    if (q == this) return true;
  return isMain_ && RunLoop::isMainThread();
}

void DispatchQueue::setSpecific(const void* key, void* value) {
  std::lock_guard lock(mutex_);
  if (value)
    specific_[key] = value;
  else
    specific_.erase(key);
}

void* DispatchQueue::getSpecific(const void* key) const {
  std::lock_guard lock(mutex_);
  auto it = specific_.find(key);
  return it == specific_.end() ? nullptr : it->second;
}

void* DispatchQueue::currentSpecific(const void* key) {
  if (!tQueueStack.empty()) return tQueueStack.back()->getSpecific(key);
  if (RunLoop::isMainThread()) return main()->getSpecific(key);
  return nullptr;
}

void DispatchQueue::async(Task task) { enqueue(std::move(task), kind_ == Kind::Serial); }

void DispatchQueue::asyncBarrier(Task task) { enqueue(std::move(task), !isGlobal_); }

void DispatchQueue::sync(Task task) { runAndWait(std::move(task), kind_ == Kind::Serial); }

void DispatchQueue::syncBarrier(Task task) { runAndWait(std::move(task), !isGlobal_); }

void DispatchQueue::asyncAfter(double delay, Task task) {
  auto self = shared_from_this();
  auto fire = Date::now().addingTimeInterval(std::max(0.0, delay));
  if (isMain_) {
    // On the main run loop itself, so a test's runUntilIdle after advance() sees it at once.
    RunLoop::main()->addTimer(Timer::create(fire, 0, false, [self, task = std::move(task)](Timer&) mutable {
      self->async(std::move(task));
    }));
    return;
  }
  delayLoop().addTimer(Timer::create(fire, 0, false, [self, task = std::move(task)](Timer&) mutable {
    self->async(std::move(task));
  }));
}

namespace {
std::atomic<std::size_t> backgroundTasks{0};
std::atomic<bool> wakeMainWhenIdle{false};

void backgroundTaskLeft() {
  if (backgroundTasks.fetch_sub(1) == 1 && wakeMainWhenIdle.exchange(false)) RunLoop::main()->post([] {});
}
}  // namespace

std::size_t DispatchQueue::backgroundTaskCount() { return backgroundTasks.load(); }

std::shared_ptr<const void> DispatchQueue::holdBackgroundWork() {
  backgroundTasks.fetch_add(1);
  return std::shared_ptr<const void>(nullptr, [](const void*) { backgroundTaskLeft(); });
}

bool DispatchQueue::runsBackgroundTask() { return !tQueueStack.empty() && !tQueueStack.front()->isMain_; }

void DispatchQueue::backgroundTaskSleeps() { backgroundTaskLeft(); }

void DispatchQueue::backgroundTaskWakes() { backgroundTasks.fetch_add(1); }

void DispatchQueue::wakeMainWhenBackgroundIdle() {
  wakeMainWhenIdle.store(true);
  // It may have fallen to zero before the flag was up.
  if (backgroundTasks.load() == 0 && wakeMainWhenIdle.exchange(false)) RunLoop::main()->post([] {});
}

void DispatchQueue::enqueue(Task task, bool barrier) {
  if (isMain_) {
    RunLoop::main()->post([this, task = std::move(task)] {
      QueueScope scope(this);
      task();
    });
    return;
  }
  std::vector<Item> ready;  // not a deque: an empty one still allocates its first block
  backgroundTasks.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(Item{std::move(task), barrier});
    startReadyLocked(ready);
  }
  for (auto& item : ready) submit(std::move(item));
}

void DispatchQueue::startReadyLocked(std::vector<Item>& out) {
  while (!pending_.empty() && !barrierRunning_) {
    if (pending_.front().barrier) {
      if (running_ > 0) break;
      barrierRunning_ = true;
    }
    ++running_;
    out.push_back(std::move(pending_.front()));
    pending_.pop_front();
  }
}

void DispatchQueue::submit(Item item) {
  // Queues made by create() live as long as work is queued on them.
  WorkerPool::shared().submit(static_cast<int>(priority_), [self = shared_from_this(), item = std::move(item)]() mutable {
    {
      QueueScope scope(self.get());
      item.task();
    }
    item.task = nullptr;
    self->finished(item.barrier);
    backgroundTaskLeft();
  });
}

void DispatchQueue::finished(bool barrier) {
  std::vector<Item> ready;
  {
    std::lock_guard lock(mutex_);
    --running_;
    if (barrier) barrierRunning_ = false;
    startReadyLocked(ready);
  }
  for (auto& item : ready) submit(std::move(item));
}

void DispatchQueue::runAndWait(Task task, bool barrier) {
  if (isMain_) {
    if (RunLoop::isMainThread()) fatalError("dispatch sync onto the main queue from the main thread would deadlock");
  } else if (barrier && isCurrent()) {
    fatalError("dispatch sync onto the queue \"" + label_ + "\" from a task of that queue would deadlock");
  }
  auto waiter = std::make_shared<Waiter>();
  enqueue(
      [task = std::move(task), waiter] {
        task();
        waiter->signal();
      },
      barrier);
  waiter->wait();
}

}  // namespace os
