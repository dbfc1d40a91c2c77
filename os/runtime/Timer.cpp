#include "os/runtime/Timer.h"

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"

namespace os {

std::mutex& Timer::stateMutex() {
  // One mutex for every timer's mutable state: timers change rarely and briefly. Lock order:
  // a run loop's mutex first, then this one.
  static std::mutex* m = new std::mutex;
  return *m;
}

Timer::Timer(Date fireDate, double interval, bool repeats, Callback callback, const void* target)
    // A repeating timer with no interval would fire without end; the platform's smallest step.
    : interval_(repeats && interval <= 0 ? 0.0001 : interval),
      repeats_(repeats),
      target_(target),
      callback_(std::make_shared<Callback>(std::move(callback))),
      fire_(fireDate.timeIntervalSince1970()) {}

std::shared_ptr<Timer> Timer::create(Date fireDate, double interval, bool repeats, Callback callback) {
  return std::make_shared<Timer>(fireDate, interval, repeats, std::move(callback), nullptr);
}

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Callback callback) {
  return scheduled(*RunLoop::current(), interval, repeats, std::move(callback));
}

std::shared_ptr<Timer> Timer::scheduled(RunLoop& loop, double interval, bool repeats, Callback callback) {
  auto timer = create(Date::now().addingTimeInterval(interval), interval, repeats, std::move(callback));
  loop.addTimer(timer);
  return timer;
}

void Timer::invalidate() {
  std::shared_ptr<RunLoop> loop;
  std::shared_ptr<Callback> callback;  // released outside the lock; may be running right now
  {
    std::lock_guard lock(stateMutex());
    if (!valid_) return;
    valid_ = false;
    callback = std::move(callback_);
    loop = loop_.lock();
  }
  if (loop) loop->removeTimer(this);
}

bool Timer::isValid() const {
  std::lock_guard lock(stateMutex());
  return valid_;
}

Date Timer::fireDate() const {
  std::lock_guard lock(stateMutex());
  return Date::fromTimeIntervalSince1970(fire_);
}

void Timer::setFireDate(Date date) {
  auto self = shared_from_this();
  std::shared_ptr<RunLoop> loop;
  {
    std::lock_guard lock(stateMutex());
    if (!valid_) return;
    loop = loop_.lock();
    if (!loop) {
      fire_ = date.timeIntervalSince1970();
      return;
    }
  }
  {
    std::lock_guard loopLock(loop->mutex_);
    std::lock_guard lock(stateMutex());
    if (!valid_) return;
    if (scheduled_) {
      auto it = loop->timers_.find({fire_, seq_});
      if (it != loop->timers_.end() && it->second.get() == this) loop->timers_.erase(it);
    }
    fire_ = date.timeIntervalSince1970();
    loop->insertTimer(self);
  }
  loop->wakeUp();
}

void Timer::fire() {
  std::shared_ptr<Callback> callback;
  {
    std::lock_guard lock(stateMutex());
    if (!valid_) return;
    callback = callback_;
  }
  if (callback && *callback) (*callback)(*this);
  if (!repeats_) invalidate();
}

}  // namespace os
