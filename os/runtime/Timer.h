#pragma once
// A one-shot or repeating timer on a run loop. The run loop keeps a scheduled timer alive until
// it is invalidated (or a one-shot timer fired), so owners may hold it weakly.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "os/core/Date.h"

namespace os {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Callback = std::function<void(Timer&)>;

  // Not scheduled yet: add it with RunLoop::addTimer.
  static std::shared_ptr<Timer> create(Date fireDate, double interval, bool repeats, Callback callback);
  // Fires `interval` seconds from now, scheduled on the current thread's run loop.
  static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Callback callback);
  // The same on a given run loop.
  static std::shared_ptr<Timer> scheduled(RunLoop& loop, double interval, bool repeats, Callback callback);

  // Removes the timer from its run loop; its callback is never called again. Any thread.
  void invalidate();
  bool isValid() const;
  Date fireDate() const;
  // Moves the next firing (a date in the past fires on the loop's next pass).
  void setFireDate(Date date);
  double timeInterval() const { return interval_; }
  bool repeats() const { return repeats_; }
  // Accepted and ignored: timers fire at their date.
  double tolerance() const { return tolerance_; }
  void setTolerance(double t) { tolerance_ = t; }
  // Calls the callback now without changing the schedule; a one-shot timer is invalidated.
  void fire();

  Timer(Date fireDate, double interval, bool repeats, Callback callback, const void* target);

 private:
  friend class RunLoop;
  static std::mutex& stateMutex();

  const double interval_;
  const bool repeats_;
  const void* const target_;  // delayed performs: the identity cancelPreviousPerforms matches
  double tolerance_ = 0;
  // Guarded by the process-wide timer mutex (see Timer.cpp).
  std::shared_ptr<Callback> callback_;
  double fire_;
  bool valid_ = true;
  bool scheduled_ = false;
  std::uint64_t seq_ = 0;
  // The serial it was first scheduled with: see RunLoop::lastTimerSerial.
  std::uint64_t added_ = 0;
  std::weak_ptr<RunLoop> loop_;
};

}  // namespace os
