#pragma once
// Watches what URL loads hand to their callers' threads while a test keeps such a thread busy:
// the test blocks (standing for a caller busy with other work) until either a transfer waits for
// it to take what it was handed, or the peer has made all it meant to send, whichever comes
// first; it then lets the caller go on and reads the most that was ever held for it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "os/net/URLReceiveWindow.h"

namespace os::testing {

class HandOverWatch {
 public:
  HandOverWatch() {
    URLReceiveWindow::resetPeak();
    waitsBefore_ = URLReceiveWindow::counts().waits;
    URLReceiveWindow::setObserver([this](const URLReceiveWindow::Counts& counts) {
      if (counts.waits == waitsBefore_) return;
      std::lock_guard<std::mutex> lock(mutex_);
      transferWaited_ = true;
      changed_.notify_all();
    });
  }
  ~HandOverWatch() { URLReceiveWindow::setObserver(nullptr); }
  HandOverWatch(const HandOverWatch&) = delete;
  HandOverWatch& operator=(const HandOverWatch&) = delete;

  // The peer's side (any thread): `made` bytes of the `total` it means to send are made.
  void peerMade(std::uint64_t made, std::uint64_t total) {
    std::lock_guard<std::mutex> lock(mutex_);
    made_ = made;
    if (made >= total) peerDone_ = true;
    changed_.notify_all();
  }

  // Blocks the calling thread (the busy caller) until a transfer waits on its caller or the peer
  // made everything; false when neither came within `seconds` (a safety net for a broken build).
  bool blockUntilTransferWaitsOrPeerIsDone(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool came = changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return transferWaited_ || peerDone_; });
    madeWhenWoken_ = made_;
    return came;
  }

  bool transferWaited() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transferWaited_;
  }
  // What the peer had made when the caller stopped being busy.
  std::uint64_t madeWhenWoken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return madeWhenWoken_;
  }
  std::uint64_t made() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return made_;
  }
  // The most one window held for its caller at once (bytes and per-hand-over overhead) since the
  // watch began.
  static std::size_t peakHeld() { return URLReceiveWindow::counts().peak; }
  // What a caller may be handed beyond the window: the hand-over that found it not yet full, and
  // the one the pass that read it ends with.
  static constexpr std::size_t kWindowSlack = 2 * URLReceiveWindow::charge(16 * 1024);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t waitsBefore_ = 0;
  bool transferWaited_ = false, peerDone_ = false;
  std::uint64_t made_ = 0, madeWhenWoken_ = 0;
};

}  // namespace os::testing
