#pragma once
// Blocking waits whose time-outs follow os::Clock: real seconds normally, virtual seconds in
// tests (a waiter then wakes once Clock::advance has moved past its deadline). The runtime's
// blocking waits all come here: a thread about to block first lets go of the wake-ups it holds
// for other threads (see RunLoop::releaseHeldWakeUps), as what it waits for may be one of them.
#include <condition_variable>
#include <functional>
#include <mutex>

namespace os {

// Waits on `cv` (with `lock` held) until `ready()` or `timeout` seconds of os::Clock have passed;
// an infinite (or negative) timeout waits without end. Returns ready().
bool waitWithClock(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   const std::function<bool()>& ready, double timeout);
// The same without a time-out.
inline void waitUntilReady(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           const std::function<bool()>& ready) {
  waitWithClock(lock, cv, ready, -1);
}

}  // namespace os
