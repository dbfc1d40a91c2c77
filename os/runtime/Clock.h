#pragma once
// The one source of time. Real in the program; tests switch to a virtual clock and advance it.
#include <functional>

namespace os {

class Clock {
 public:
  // Seconds since 1970 (wall time for dates).
  static double now();
  // Monotonic seconds for time-outs and timers (the virtual clock's own value in tests).
  static double monotonic();

  static bool isVirtual();
  // Switches the process to a virtual clock starting at `start` (seconds since 1970).
  static void useVirtual(double start = 1.7e9);
  static void useReal();
  // Moves the virtual clock forward and wakes every run loop so timers due by then fire.
  static void advance(double seconds);

  // Called after every advance (run loops register here to wake up).
  static int addAdvanceListener(std::function<void()> listener);
  static void removeAdvanceListener(int token);
};

// Switches to a virtual clock for the lifetime of the object (tests).
class VirtualClockScope {
 public:
  explicit VirtualClockScope(double start = 1.7e9) { Clock::useVirtual(start); }
  ~VirtualClockScope() { Clock::useReal(); }
  VirtualClockScope(const VirtualClockScope&) = delete;
  VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};

}  // namespace os
