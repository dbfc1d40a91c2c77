#pragma once
// What of a reply's body a transport has handed to its client and the caller has not yet taken.
// The transport adds what it hands over and stops reading the exchange once the window is full;
// the taker gives bytes back as it takes them, and once half the window is free again the
// transport is told to go on. However long the caller's thread is busy, what waits for it stays
// within the window, and the peer waits in its socket meanwhile.
//
// Each hand-over is charged its bytes and a fixed overhead, so a reply sent in tiny pieces fills
// the window by the pieces' number as well as their size.
//
// Any reader of a peer that hands what it reads to another thread may hold what waits the same
// way: it stops reading while the window is full.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace os {

class URLReceiveWindow {
 public:
  // What one hand-over costs beyond its bytes: the task carrying it, its buffer's keeping.
  static constexpr std::size_t kHandOverOverhead = 256;
  // The window a URL connection gives a transport that hands its events to another thread.
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  explicit URLReceiveWindow(std::size_t capacity = kDefaultCapacity);
  URLReceiveWindow(const URLReceiveWindow&) = delete;
  URLReceiveWindow& operator=(const URLReceiveWindow&) = delete;
  ~URLReceiveWindow();

  std::size_t capacity() const { return capacity_; }
  // What a hand-over of `bytes` is charged.
  static constexpr std::size_t charge(std::size_t bytes) { return bytes + kHandOverOverhead; }

  // Transport side. True when nothing more may be handed over now: the transport then waits until
  // the call set by setOnOpen. False otherwise (the transport goes on).
  bool full();
  // Transport side: `charged` (from charge) was handed over.
  void handedOver(std::size_t charged);
  // Transport side: called on the taking thread once a waiting transport may go on. Must not call
  // back into this window.
  void setOnOpen(std::function<void()> onOpen);
  // Whether the transport waits on the taker.
  bool waiting() const;

  // Taker side: `charged` of what was handed over is taken (or dropped). Any thread.
  void taken(std::size_t charged);

  // Counts of every window in the process: held (handed over, not yet taken, by the windows
  // alive), the most one window held at once since the last reset, and how often a transport
  // had to wait. Each window keeps its own; they are gathered only when read or observed.
  struct Counts {
    std::size_t held = 0;
    std::size_t peak = 0;
    std::uint64_t waits = 0;
  };
  static Counts counts();
  static void resetPeak();
  // Called with the counts after every change while set, under the counts' lock (it must not
  // reach back here): a test blocks on its own condition until what it waits for shows. Empty to
  // remove.
  static void setObserver(std::function<void(const Counts&)> observer);

 private:
  // Tells the observer, when one is set.
  void changed();
  static Counts countsLocked();

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::size_t held_ = 0;
  std::size_t peak_ = 0;
  std::uint64_t waits_ = 0;
  bool waiting_ = false;
  std::function<void()> onOpen_;
  // Its neighbours among the windows alive (under the counts' lock): joining and leaving them
  // costs a window no allocation.
  URLReceiveWindow* previousAlive_ = nullptr;
  URLReceiveWindow* nextAlive_ = nullptr;
};

}  // namespace os
