#pragma once
// Bounded polling before a thread blocks. Waking a thread that sleeps costs tens of microseconds
// on some machines (a virtual processor left idle must be resumed first), about as long as a
// loopback answer takes to arrive, so a waiter whose waits are usually that short looks again for
// a while before it parks. Each waiter keeps score of how its recent waits went (polled or
// blocked alike): it polls only while most of them ended within the limit, so a thread whose
// waits are long spends nothing on it, and one long wait among short ones does not stop it.
// Between polls the thread yields, so on a loaded machine the processor goes to whoever else
// wants it.
//
// Polling only delays the moment a waiter blocks: what it waits for, and in which order things
// happen, stay the same.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace os {

class SpinWait {
 public:
  using Nanoseconds = std::chrono::nanoseconds;

  // Waits until `ready()` holds: polls it while the score allows, then calls `block()`, which
  // blocks until readiness (true) or gives up (false, e.g. a time-out). Returns which happened.
  template <class Ready, class Block>
  bool wait(Ready&& ready, Block&& block) {
    const auto start = std::chrono::steady_clock::now();
    if (worthPolling()) {
      for (unsigned round = 0;; ++round) {
        if (ready()) {
          note(start, true);
          return true;
        }
        if (std::chrono::steady_clock::now() - start >= Nanoseconds(kLimit)) break;
        pause(round);
      }
    } else if (ready()) {
      return true;
    }
    bool arrived = block();
    note(start, arrived);
    return arrived;
  }

  // The common shape of the above: polls `ready` without the lock, else takes `lock` and sleeps on
  // `cv` until `ready` holds. Returns with `lock` held either way, so whoever made it ready (and
  // notifies under the lock) is out of its notification before the caller goes on.
  template <class Lock, class Condition, class Ready>
  void waitLocked(Lock& lock, Condition& cv, Ready&& ready) {
    wait(ready, [&] {
      lock.lock();
      cv.wait(lock, ready);
      return true;
    });
    if (!lock.owns_lock()) lock.lock();
  }

 private:
  bool worthPolling() const { return score_.load(std::memory_order_relaxed) >= 0; }
  void note(std::chrono::steady_clock::time_point start, bool arrived);
  static void pause(unsigned round);

  // The longest wait worth polling through, far shorter than a time slice. A loopback exchange on
  // a kept-alive connection takes about 100 µs through two threads; one that must open a new
  // connection first (a server closes its connections every few requests) about twice that.
  // Polling through those too spares each of them a parked thread, whose wake-up costs more than
  // a third of such an exchange on a virtual machine (measured).
  static constexpr std::int64_t kLimit = 300'000;
  // Up for a wait that ended within the limit, down for one that did not, within -kScoreBound and
  // kScoreBound; racing updates only blur it.
  static constexpr int kScoreBound = 3;
  std::atomic<int> score_{kScoreBound};
};

}  // namespace os
