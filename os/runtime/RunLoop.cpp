#include "os/runtime/RunLoop.h"

#include <poll.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "os/core/Log.h"
#include "os/runtime/Clock.h"
#include "os/runtime/ClockWait.h"
#include "os/runtime/Fatal.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Timer.h"

namespace os {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A waiting loop looks at the clock at least this often, so a switch between the real and the
// virtual clock is noticed.
constexpr double kMaxPollWait = 1.0;

// Recorded during static initialisation, which runs on the process's initial thread.
std::mutex gMainMutex;
std::thread::id gMainThread = std::this_thread::get_id();
std::shared_ptr<RunLoop>* gMainLoop = nullptr;  // never destroyed: other threads may outlive main

thread_local std::shared_ptr<RunLoop> tCurrent;

double steadyNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The wake-ups that a thread running a loop's run() owes other loops for the tasks it posted them
// while it was busy. Each wake-up of a sleeping thread costs the writer a system call and, on a
// machine whose processors sleep, a signal to another processor; a busy network thread that
// finishes a request every few microseconds paid that once or twice per request to wake the main
// thread for a few microseconds of work. Held, they go out together when the holder is about to
// wait, is about to block, or has held the oldest for kLongestHold.
struct HeldWakeUps {
  bool holding = false;  // this thread, not the main one, is inside run()
  double since = 0;      // when the oldest was held
  std::vector<std::weak_ptr<RunLoop>> loops;
  // Other sleepers' wake-ups (the dispatch workers'), each owed once: its owner and how to wake.
  std::vector<std::pair<void*, void (*)(void*)>> others;
  bool empty() const { return loops.empty() && others.empty(); }
  void started() {
    if (empty()) since = steadyNow();
  }
};
thread_local HeldWakeUps tHeld;
// How late a busy holder may let a sleeping loop know of its tasks.
constexpr double kLongestHold = 0.001;

}  // namespace

RunLoop::RunLoop(PrivateTag) {
  // A pipe rather than an event descriptor: a write to a pipe tells the scheduler that the writer
  // is likely to wait next (as a thread that hands work over and waits for the answer does), so
  // the loop's thread may be run on the writer's processor instead of waking an idle one.
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) fatalError("run loop: cannot create its wake-up descriptor");
  wakeFd_ = fds[0];
  wakeWriteFd_ = fds[1];
}

std::shared_ptr<RunLoop> RunLoop::make() {
  auto loop = std::make_shared<RunLoop>(PrivateTag{});
  std::weak_ptr<RunLoop> weak = loop;
  loop->clockToken_ = Clock::addAdvanceListener([weak] {
    if (auto l = weak.lock()) l->wakeUp();
  });
  return loop;
}

RunLoop::~RunLoop() {
  Clock::removeAdvanceListener(clockToken_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (wakeWriteFd_ >= 0) ::close(wakeWriteFd_);
}

void RunLoop::bindToCurrentThread() {
  {
    std::lock_guard lock(mutex_);
    thread_ = std::this_thread::get_id();
  }
  tCurrent = shared_from_this();
}

std::shared_ptr<RunLoop> RunLoop::current() {
  if (tCurrent) return tCurrent;
  if (std::this_thread::get_id() == [] {
        std::lock_guard lock(gMainMutex);
        return gMainThread;
      }()) {
    tCurrent = main();
    return tCurrent;
  }
  make()->bindToCurrentThread();
  return tCurrent;
}

std::shared_ptr<RunLoop> RunLoop::main() {
  std::lock_guard lock(gMainMutex);
  if (!gMainLoop) {
    gMainLoop = new std::shared_ptr<RunLoop>(make());
    std::lock_guard l((*gMainLoop)->mutex_);
    (*gMainLoop)->thread_ = gMainThread;
  }
  return *gMainLoop;
}

void RunLoop::makeCurrentThreadMain() {
  auto loop = current();
  std::lock_guard lock(gMainMutex);
  gMainThread = std::this_thread::get_id();
  if (!gMainLoop) gMainLoop = new std::shared_ptr<RunLoop>();
  *gMainLoop = loop;
}

bool RunLoop::isMainThread() {
  std::lock_guard lock(gMainMutex);
  return std::this_thread::get_id() == gMainThread;
}

bool RunLoop::isCurrent() const {
  std::lock_guard lock(mutex_);
  return thread_ == std::this_thread::get_id();
}

bool RunLoop::isMain() const {
  std::lock_guard lock(gMainMutex);
  return gMainLoop && gMainLoop->get() == this;
}

void RunLoop::requireCurrent(const char* what) const {
  if (!isCurrent()) fatalError(std::string("run loop: ") + what + " called from a thread that does not own the loop");
}

void RunLoop::wakeUp() {
  // A full pipe wakes the loop already.
  const char one = 1;
  [[maybe_unused]] auto n = ::write(wakeWriteFd_, &one, 1);
}

void RunLoop::releaseHeldWakeUps() {
  if (tHeld.empty()) return;
  auto loops = std::move(tHeld.loops);
  auto others = std::move(tHeld.others);
  tHeld.loops.clear();
  tHeld.others.clear();
  for (auto& weak : loops)
    if (auto loop = weak.lock()) loop->wakeIfSleeping();
  for (auto& [owner, wake] : others) wake(owner);
}

bool RunLoop::holdWakeUp(void* owner, void (*wake)(void*)) {
  if (!tHeld.holding) return false;
  for (auto& held : tHeld.others)
    if (held.first == owner) return true;
  tHeld.started();
  tHeld.others.emplace_back(owner, wake);
  return true;
}

void RunLoop::releaseOverdueWakeUps() {
  if (!tHeld.empty() && steadyNow() - tHeld.since >= kLongestHold) releaseHeldWakeUps();
}

void RunLoop::wakeIfSleeping() {
  // A loop awake now looks at its tasks before it waits (see pollSources).
  if (sleeping_.load() && !taskWakePending_.exchange(true)) wakeUp();
}

void RunLoop::holdWakeUp() {
  for (auto& held : tHeld.loops)
    if (held.lock().get() == this) return;
  std::weak_ptr<RunLoop> self = weak_from_this();
  if (self.expired()) return wakeIfSleeping();
  tHeld.started();
  tHeld.loops.push_back(std::move(self));
}

void RunLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    // Work handed to a task asleep here counts from now, not from when the loop wakes: whoever
    // waits for background work to end must not see none between the post and the wake-up.
    if (std::exchange(offTaskCount_, false)) DispatchQueue::backgroundTaskWakes();
    // The loop's own thread is not waiting: it looks at its tasks before it waits again.
    if (thread_ == std::this_thread::get_id()) return;
  }
  // A loop that is not waiting looks at its tasks before it waits (see pollSources): a busy loop
  // takes a burst of posts without a system call on either side.
  if (!sleeping_.load()) return;
  // A busy loop thread lets the wake-up go when it is about to wait (see tHeld). Only its own
  // posts wait for it: this loop's flag is left alone, so any other poster still wakes it.
  if (tHeld.holding) return holdWakeUp();
  // One wake-up per burst: replies of another thread come several at once, and each write would
  // cost a system call and perhaps a wake-up of its own. The loop takes the flag back when it takes
  // the wake-up, before it looks at its tasks again, so a task posted meanwhile is seen.
  if (!taskWakePending_.exchange(true)) wakeUp();
}

void RunLoop::perform(Task task, bool waitUntilDone) {
  if (!waitUntilDone) return post(std::move(task));
  if (isCurrent()) {
    task();
    return;
  }
  struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  post([task = std::move(task), done] {
    task();
    std::lock_guard lock(done->m);
    done->done = true;
    done->cv.notify_all();
  });
  std::unique_lock lock(done->m);
  waitUntilReady(lock, done->cv, [&] { return done->done; });
}

void RunLoop::performAfterDelay(const void* target, double delay, Task task) {
  auto timer = std::make_shared<Timer>(Date::now().addingTimeInterval(std::max(0.0, delay)), 0, false,
                                       [task = std::move(task)](Timer&) { task(); }, target);
  addTimer(timer);
}

void RunLoop::cancelPreviousPerforms(const void* target) {
  if (!target) return;
  std::vector<std::shared_ptr<Timer>> cancelled;
  {
    std::lock_guard lock(mutex_);
    std::lock_guard tl(Timer::stateMutex());
    auto first = performs_.lower_bound({target, {-kInfinity, 0}});
    auto last = first;
    for (; last != performs_.end() && last->first == target; ++last) {
      auto it = timers_.find(last->second);
      // An entry whose timer was moved since is only dropped: its new place has its own entry.
      if (it == timers_.end() || it->second->target_ != target) continue;
      it->second->valid_ = false;
      it->second->scheduled_ = false;
      cancelled.push_back(std::move(it->second));  // released outside the locks
      timers_.erase(it);
    }
    performs_.erase(first, last);
  }
}

void RunLoop::insertTimer(const std::shared_ptr<Timer>& timer) {
  // mutex_ and the timer mutex are held.
  timer->seq_ = nextTimerSeq_++;
  timer->scheduled_ = true;
  timers_.emplace(std::make_pair(timer->fire_, timer->seq_), timer);
  if (timer->target_) performs_.insert({timer->target_, {timer->fire_, timer->seq_}});
}

void RunLoop::forgetPerform(const Timer& timer) {
  // mutex_ and the timer mutex are held.
  if (timer.target_) performs_.erase({timer.target_, {timer.fire_, timer.seq_}});
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
  if (!timer) return;
  {
    std::lock_guard lock(mutex_);
    std::lock_guard tl(Timer::stateMutex());
    if (!timer->valid_ || timer->scheduled_ || !timer->loop_.expired()) return;
    timer->loop_ = weak_from_this();
    insertTimer(timer);
    timer->added_ = timer->seq_;
  }
  wakeUp();
}

void RunLoop::removeTimer(Timer* timer) {
  std::shared_ptr<Timer> keep;  // released outside the lock
  std::lock_guard lock(mutex_);
  std::lock_guard tl(Timer::stateMutex());
  if (!timer->scheduled_) return;
  auto it = timers_.find({timer->fire_, timer->seq_});
  if (it != timers_.end() && it->second.get() == timer) {
    keep = std::move(it->second);
    timers_.erase(it);
    forgetPerform(*timer);
  }
  timer->scheduled_ = false;
}

std::size_t RunLoop::pendingTaskCount() const {
  std::lock_guard lock(mutex_);
  return tasks_.size();
}

std::size_t RunLoop::timerCount() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

int RunLoop::addSource(int fd, unsigned events, SourceCallback callback) {
  int token;
  {
    std::lock_guard lock(mutex_);
    token = nextSourceToken_++;
    sources_[token] = Source{fd, events, std::make_shared<SourceCallback>(std::move(callback))};
    // The loop's own thread is not polling: it reads its sources again before it polls.
    if (thread_ == std::this_thread::get_id()) return token;
  }
  wakeUp();
  return token;
}

void RunLoop::setSourceEvents(int token, unsigned events) {
  {
    std::lock_guard lock(mutex_);
    auto it = sources_.find(token);
    if (it == sources_.end()) return;
    it->second.events = events;
    if (thread_ == std::this_thread::get_id()) return;
  }
  wakeUp();
}

void RunLoop::removeSource(int token) {
  std::shared_ptr<SourceCallback> keep;
  {
    std::lock_guard lock(mutex_);
    auto it = sources_.find(token);
    if (it == sources_.end()) return;
    keep = std::move(it->second.callback);
    sources_.erase(it);
    if (thread_ == std::this_thread::get_id()) return;
  }
  wakeUp();
}

int RunLoop::runTasks() {
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    count = tasks_.size();
  }
  // One at a time from the front, so a nested run started by a task keeps the posting order.
  int ran = 0;
  for (std::size_t i = 0; i < count; ++i) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (task) task();
    ++ran;
    releaseOverdueWakeUps();
  }
  return ran;
}

int RunLoop::fireTimers() {
  const double now = Clock::now();
  std::vector<std::pair<std::shared_ptr<Timer>, std::uint64_t>> due;
  {
    std::lock_guard lock(mutex_);
    for (auto& [key, timer] : timers_) {
      if (key.first > now) break;
      due.emplace_back(timer, key.second);
    }
  }
  int fired = 0;
  for (auto& [timer, seq] : due) {
    std::shared_ptr<Timer::Callback> callback;
    std::shared_ptr<Timer> released;
    {
      std::lock_guard lock(mutex_);
      std::lock_guard tl(Timer::stateMutex());
      // Skipped when invalidated or moved since the list was taken.
      if (!timer->valid_ || !timer->scheduled_ || timer->seq_ != seq) continue;
      auto it = timers_.find({timer->fire_, seq});
      if (it != timers_.end()) {
        released = std::move(it->second);
        timers_.erase(it);
        forgetPerform(*timer);
      }
      callback = timer->callback_;
      if (timer->repeats_) {
        // The next date stays on the original grid: missed intervals are skipped, not caught up.
        double interval = timer->interval_;
        double next = timer->fire_ + interval;
        if (next <= now) next = timer->fire_ + interval * (std::floor((now - timer->fire_) / interval) + 1);
        timer->fire_ = next;
        insertTimer(timer);
      } else {
        timer->valid_ = false;
        timer->scheduled_ = false;
        timer->callback_.reset();
      }
    }
    if (callback && *callback) (*callback)(*timer);
    ++fired;
  }
  return fired;
}

double RunLoop::nextTimerDue() const {
  std::lock_guard lock(mutex_);
  return nextTimerDate();
}

std::uint64_t RunLoop::lastTimerSerial() const {
  std::lock_guard lock(mutex_);
  return nextTimerSeq_ - 1;
}

double RunLoop::nextTimerDueAfter(std::uint64_t serial) const {
  std::lock_guard lock(mutex_);
  std::lock_guard tl(Timer::stateMutex());
  for (const auto& [key, timer] : timers_)
    if (timer->added_ > serial) return key.first;
  return kInfinity;
}

double RunLoop::nextTimerDate() const {
  return timers_.empty() ? kInfinity : timers_.begin()->first.first;
}

// The poll set of a pass, kept from pass to pass: a busy loop makes several passes per exchange.
struct RunLoop::PollSet {
  std::vector<pollfd> fds;
  std::vector<int> tokens;
};

namespace {

// Borrows the loop's poll set for one pass. A nested pass (a source's callback running the loop)
// finds it taken and uses one of its own.
class BorrowedPollSet {
 public:
  explicit BorrowedPollSet(std::unique_ptr<RunLoop::PollSet>& home) : home_(home), set_(std::move(home)) {
    if (!set_) set_ = std::make_unique<RunLoop::PollSet>();
    set_->fds.clear();
    set_->tokens.clear();
  }
  ~BorrowedPollSet() { home_ = std::move(set_); }
  BorrowedPollSet(const BorrowedPollSet&) = delete;
  BorrowedPollSet& operator=(const BorrowedPollSet&) = delete;
  RunLoop::PollSet& operator*() { return *set_; }

 private:
  std::unique_ptr<RunLoop::PollSet>& home_;
  std::unique_ptr<RunLoop::PollSet> set_;
};

}  // namespace

int RunLoop::pollSources(double wait) {
  BorrowedPollSet set(pollSet_);
  std::vector<pollfd>& fds = (*set).fds;
  std::vector<int>& tokens = (*set).tokens;
  fds.push_back(pollfd{wakeFd_, POLLIN, 0});
  {
    std::lock_guard lock(mutex_);
    for (auto& [token, source] : sources_) {
      short ev = 0;
      if (source.events & kReadable) ev |= POLLIN;
      if (source.events & kWritable) ev |= POLLOUT;
      if (!ev) continue;
      fds.push_back(pollfd{source.fd, ev, 0});
      tokens.push_back(token);
    }
  }
  const double bound = std::min(wait, kMaxPollWait);
  const auto milliseconds = [](double seconds) {
    return seconds > 0 ? static_cast<int>(std::ceil(seconds * 1000.0)) : 0;
  };
  int timeout = milliseconds(bound);
  bool leftTaskCount = false;
  if (timeout > 0) {
    // Posts from here on write the wake-up; one that came before is seen below. The flag is set
    // before the look, under the same lock the poster queues under, so no post goes unseen.
    sleeping_.store(true);
    std::lock_guard lock(mutex_);
    if (!tasks_.empty()) timeout = 0;
    else if (DispatchQueue::runsBackgroundTask()) leftTaskCount = offTaskCount_ = true;
  }
  // A post from here on counts the task back in before it returns (see post).
  if (leftTaskCount) DispatchQueue::backgroundTaskSleeps();
  if (timeout > 0) releaseHeldWakeUps();
  const int n = wait_ ? wait_(fds.data(), fds.size(), timeout) : ::poll(fds.data(), fds.size(), timeout);
  if (leftTaskCount) {
    std::lock_guard lock(mutex_);
    if (std::exchange(offTaskCount_, false)) DispatchQueue::backgroundTaskWakes();
  }
  sleeping_.store(false);
  if (n <= 0) return 0;
  if (fds[0].revents & POLLIN) {
    // Wake-ups left over are taken on the next pass.
    char taken[64];
    [[maybe_unused]] auto r = ::read(wakeFd_, taken, sizeof taken);
    // An exchange, not a store: it reads the poster's flag, so the poster's task is visible to the
    // next pass.
    taskWakePending_.exchange(false);
  }
  int handled = 0;
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    unsigned ready = 0;
    // Errors and hang-ups are reported as readiness so the owner reads or writes and sees them.
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ready |= kReadable;
    if (fds[i].revents & (POLLOUT | POLLERR)) ready |= kWritable;
    if (fds[i].revents & POLLNVAL) ready |= kReadable | kWritable;
    std::shared_ptr<SourceCallback> callback;
    int fd;
    {
      std::lock_guard lock(mutex_);
      auto it = sources_.find(tokens[i - 1]);
      if (it == sources_.end()) continue;  // removed by an earlier callback of this pass
      ready &= it->second.events | ((fds[i].revents & POLLNVAL) ? 3u : 0u);
      if (!ready) continue;
      callback = it->second.callback;
      fd = it->second.fd;
    }
    (*callback)(fd, ready);
    ++handled;
    releaseOverdueWakeUps();
  }
  return handled;
}

bool RunLoop::hasReadyWork() {
  std::lock_guard lock(mutex_);
  return !tasks_.empty() || nextTimerDate() <= Clock::now();
}

RunLoop::PassResult RunLoop::runPass(double maxWait, bool waitAfterWork) {
  PassResult r;
  r.tasks = runTasks();
  r.timers = fireTimers();
  double wait = 0;
  if ((waitAfterWork || (!r.tasks && !r.timers)) && maxWait > 0) {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) {
      wait = maxWait;
      // Only a real clock bounds the wait by the next timer: virtual time moves by advance(),
      // which wakes the loop.
      if (!Clock::isVirtual()) wait = std::min(wait, nextTimerDate() - Clock::now());
      wait = std::max(wait, 0.0);
    }
  }
  r.sources = pollSources(wait);
  // Timers that keep falling due keep a loop from waiting too.
  releaseOverdueWakeUps();
  return r;
}

bool RunLoop::takeStop() {
  int n = stopRequests_.load();
  while (n > 0) {
    if (stopRequests_.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

void RunLoop::stop() {
  stopRequests_.store(1);
  wakeUp();
}

void RunLoop::run() {
  requireCurrent("run");
  // Wake-ups are held here (see tHeld), except on the main thread: its tasks (layout, a database
  // write) may run long, and a load it starts should not wait for them.
  const bool wasHolding = std::exchange(tHeld.holding, !isMainThread());
  // Nothing to look at between passes but the stop, which wakes the loop: a pass that did work
  // may wait at once instead of polling once more first.
  while (!takeStop()) runPass(kInfinity, true);
  tHeld.holding = wasHolding;
  if (!wasHolding) releaseHeldWakeUps();
}

bool RunLoop::runUntil(const std::function<bool()>& condition, double timeout) {
  requireCurrent("runUntil");
  return runUntilCondition(condition, timeout, 0.01);
}

bool RunLoop::runUntilWoken(const std::function<bool()>& condition, double timeout) {
  requireCurrent("runUntilWoken");
  return runUntilCondition(condition, timeout, kInfinity);
}

bool RunLoop::runUntilCondition(const std::function<bool()>& condition, double timeout, double longestWait) {
  const double deadline = steadyNow() + std::max(0.0, timeout);
  for (;;) {
    if (condition()) return true;
    if (takeStop()) return false;
    double left = deadline - steadyNow();
    if (left <= 0) return condition();
    runPass(std::min(left, longestWait));
  }
}

void RunLoop::runUntilDate(Date limit) {
  requireCurrent("runUntilDate");
  for (;;) {
    if (takeStop()) return;
    double left = limit.timeIntervalSince1970() - Clock::now();
    if (left <= 0) return;
    runPass(Clock::isVirtual() ? kInfinity : left);
  }
}

bool RunLoop::runOnce(Date limit) {
  requireCurrent("runOnce");
  for (;;) {
    if (takeStop()) return false;
    double left = limit.timeIntervalSince1970() - Clock::now();
    PassResult r = runPass(left <= 0 ? 0 : (Clock::isVirtual() ? kInfinity : left));
    if (r.any()) return true;
    if (limit.timeIntervalSince1970() <= Clock::now()) return false;
  }
}

void RunLoop::runUntilIdle() {
  requireCurrent("runUntilIdle");
  for (;;) {
    PassResult r = runPass(0);
    if (r.tasks || r.timers) continue;
    // Source callbacks alone do not keep the loop going (a writable socket is always ready),
    // but what they posted does.
    if (r.sources && hasReadyWork()) continue;
    return;
  }
}

}  // namespace os
