#pragma once
// One run loop per thread: posted tasks, timers and file-descriptor sources, all called back on
// the loop's own thread.
//
// Time contract (real and virtual clock):
// - Timers are due when os::Clock::now() has reached their fire date. Under the virtual clock
//   the loop never moves time itself and never sleeps in real time waiting for a timer:
//   Clock::advance wakes every run loop, and timers that became due fire on the loop's next
//   pass (at once for a loop that is waiting in run(), runUntil(), runUntilDate() or runOnce();
//   on the next runUntilIdle() otherwise).
// - runUntilIdle() never waits: it runs posted tasks, due timers and ready sources, again and
//   again, until none is ready, then returns. A timer not yet due is not waited for.
// - runUntil(condition, timeout): `timeout` is real seconds under both clocks. It is a bound on
//   waiting for work from other threads (posts, sockets, Clock::advance from another thread),
//   not a clock of the loop's own: under the virtual clock a timer that is not due never ends
//   the wait early nor is waited for. Returns true once condition() holds (checked before any
//   work and after every pass), false at the time-out or after stop().
// - runUntilDate(limit) and runOnce(limit): `limit` is a date of os::Clock, so under the virtual
//   clock they return only once the clock has been advanced past it (or on stop()).
// - Tasks run in the order posted; timers with the same fire date fire in the order scheduled.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "os/core/Date.h"

struct pollfd;

namespace os {

class Timer;

class RunLoop : public std::enable_shared_from_this<RunLoop> {
 public:
  using Task = std::function<void()>;
  // Readiness bits of a file-descriptor source.
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;
  using SourceCallback = std::function<void(int fd, unsigned readyEvents)>;

  // The calling thread's loop, made on first use.
  static std::shared_ptr<RunLoop> current();
  // The main thread's loop. The main thread is the process's initial thread unless
  // makeCurrentThreadMain() designated another.
  static std::shared_ptr<RunLoop> main();
  static void makeCurrentThreadMain();
  static bool isMainThread();

  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // True when called on the loop's own thread.
  bool isCurrent() const;
  bool isMain() const;

  // Thread-safe; tasks run on the loop's thread in posting order.
  void post(Task task);
  // Runs on the loop's thread; with waitUntilDone the caller blocks until it ran (inline when the
  // caller is the loop's thread).
  void perform(Task task, bool waitUntilDone);
  // A delayed perform that cancelPreviousPerforms(target) can withdraw before it runs.
  void performAfterDelay(const void* target, double delay, Task task);
  void cancelPreviousPerforms(const void* target);

  // Schedules a timer here (any thread). A timer belongs to one loop; adding it elsewhere again
  // is ignored.
  void addTimer(const std::shared_ptr<Timer>& timer);

  // Watches `fd` for the given readiness bits (level-triggered: the callback must consume the
  // data or change its interest). Any thread may add, change or remove; the callback runs on the
  // loop's thread, never after removeSource returned on the loop's thread.
  int addSource(int fd, unsigned events, SourceCallback callback);
  void setSourceEvents(int token, unsigned events);
  void removeSource(int token);

  // Driving the loop: only on its own thread (nesting is allowed).
  void run();                       // until stop()
  // Until condition holds (true), stop() or timeout (false). The condition is looked at after
  // every pass and at least every 10 ms, as another thread may change it without posting here.
  bool runUntil(const std::function<bool()>& condition, double timeout);
  // The same for a condition that only this loop's thread changes (or another thread changes and
  // then wakes the loop): it is looked at after each pass only, sleeping in between.
  bool runUntilWoken(const std::function<bool()>& condition, double timeout);
  void runUntilDate(Date limit);    // until the clock reaches limit, or stop()
  bool runOnce(Date limit);         // until something was handled or limit; false when nothing was
  void runUntilIdle();

  // Makes the innermost running call return (any thread). A stop that arrives while the loop is
  // not running ends its next run.
  void stop();
  // Interrupts a waiting loop so it looks at the clock and its queues again.
  void wakeUp();
  // A thread other than the main one, inside a loop's run(), holds the wake-ups its posts owe
  // other sleeping loops while it is busy, and lets them go when it is about to wait or after at
  // most a millisecond. A thread about to block on anything else calls this first (the waits of
  // ClockWait.h do), so that what it waits for is not held behind its own wait. Cheap when
  // nothing is held.
  static void releaseHeldWakeUps();
  // For other kinds of sleeper (the dispatch workers): on a thread that holds, keeps `wake(owner)`
  // for the release, once per owner, and answers true; elsewhere answers false and the caller
  // wakes its sleeper itself.
  static bool holdWakeUp(void* owner, void (*wake)(void*));

  // The wait a pass makes (poll(2)'s shape: descriptors, their count, a time-out in ms; the first
  // descriptor is the loop's wake-up): a test puts its own in to see what a wait was owed. The
  // loop's thread only.
  using WaitFunction = int (*)(::pollfd* fds, unsigned long count, int timeoutMs);
  void setWaitFunctionForTesting(WaitFunction wait) { wait_ = wait; }

  std::size_t pendingTaskCount() const;
  std::size_t timerCount() const;
  // When the next timer is due, in os::Clock seconds; infinity when none is scheduled.
  double nextTimerDue() const;
  // The serial of the newest timer scheduled here so far (0 before any), and when the next of
  // the timers first scheduled after `serial` is due (infinity when none): what a piece of work
  // set going since the serial was taken, rather than timers that were ticking on before it.
  std::uint64_t lastTimerSerial() const;
  double nextTimerDueAfter(std::uint64_t serial) const;

 private:
  friend class Timer;
  friend class Thread;
  struct PrivateTag {};

 public:
  explicit RunLoop(PrivateTag);

 private:
  struct Source {
    int fd;
    unsigned events;
    std::shared_ptr<SourceCallback> callback;
  };
  struct PassResult {
    int tasks = 0;
    int timers = 0;
    int sources = 0;
    bool any() const { return tasks + timers + sources > 0; }
  };

  static std::shared_ptr<RunLoop> make();
  void bindToCurrentThread();
  void requireCurrent(const char* what) const;
  // One pass: the tasks queued when it began, the due timers, then the sources; waits at most
  // maxWait real seconds in the poll when nothing was run before it (or, with waitAfterWork, when
  // nothing is left to run).
  PassResult runPass(double maxWait, bool waitAfterWork = false);
  bool runUntilCondition(const std::function<bool()>& condition, double timeout, double longestWait);
  static void releaseOverdueWakeUps();
  void wakeIfSleeping();
  void holdWakeUp();
  int runTasks();
  int fireTimers();
  int pollSources(double wait);
  double nextTimerDate() const;  // infinity when none; caller holds mutex_
  bool hasReadyWork();
  bool takeStop();
  void insertTimer(const std::shared_ptr<Timer>& timer);  // mutex_ held
  void removeTimer(Timer* timer);
  void forgetPerform(const Timer& timer);  // mutex_ and the timer mutex held

  mutable std::mutex mutex_;
  std::deque<Task> tasks_;
  std::map<std::pair<double, std::uint64_t>, std::shared_ptr<Timer>> timers_;
  std::uint64_t nextTimerSeq_ = 1;
  // The delayed performs' timers by target, so that cancelling a target's performs looks at
  // them only rather than at every timer.
  std::set<std::pair<const void*, std::pair<double, std::uint64_t>>> performs_;
  std::map<int, Source> sources_;
  int nextSourceToken_ = 1;
  std::thread::id thread_;
  int wakeFd_ = -1;  // the wake-up pipe's ends
  int wakeWriteFd_ = -1;
  int clockToken_ = 0;
  std::atomic<int> stopRequests_{0};
  // A wake-up for posted tasks is written and not yet taken by the loop.
  std::atomic<bool> taskWakePending_{false};
  // The loop's thread is in, or about to enter, a wait that a post must interrupt. It looks at its
  // tasks after setting this, so a post made while it is clear needs no wake-up.
  std::atomic<bool> sleeping_{false};
  // The background task this loop runs in left the task count to sleep and is owed its return;
  // under mutex_, so a post and the loop's look at its tasks never both miss it.
  bool offTaskCount_ = false;

 public:
  struct PollSet;

 private:
  // The loop's thread only.
  std::unique_ptr<PollSet> pollSet_;
  WaitFunction wait_ = nullptr;  // poll(2) when null
};

}  // namespace os
