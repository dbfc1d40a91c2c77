#include "os/net/URLReceiveWindow.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace os {

namespace {
// The windows alive, for the counts. A window joins and leaves once; its hand-overs touch only
// its own lock, and this one only while an observer is set.
struct Registry {
  std::mutex mutex;
  URLReceiveWindow* firstAlive = nullptr;  // the windows alive, linked through their own fields
  // Of the windows gone: how often they waited, the most one held since the last reset.
  std::uint64_t goneWaits = 0;
  std::size_t gonePeak = 0;
  std::function<void(const URLReceiveWindow::Counts&)> observer;
  std::atomic<bool> observed{false};
};

Registry& registry() {
  static auto* r = new Registry;  // never destroyed: transfers may end during exit
  return *r;
}
}  // namespace

URLReceiveWindow::URLReceiveWindow(std::size_t capacity) : capacity_(capacity) {
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  nextAlive_ = r.firstAlive;
  if (nextAlive_) nextAlive_->previousAlive_ = this;
  r.firstAlive = this;
}

URLReceiveWindow::~URLReceiveWindow() {
  auto& r = registry();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    (previousAlive_ ? previousAlive_->nextAlive_ : r.firstAlive) = nextAlive_;
    if (nextAlive_) nextAlive_->previousAlive_ = previousAlive_;
    r.goneWaits += waits_;
    r.gonePeak = std::max(r.gonePeak, peak_);
  }
  // What was never taken leaves the counts with the window.
  if (held_) changed();
}

bool URLReceiveWindow::full() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_ < capacity_) return false;
    if (waiting_) return true;
    waiting_ = true;
    ++waits_;
  }
  changed();
  return true;
}

void URLReceiveWindow::handedOver(std::size_t charged) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ += charged;
    peak_ = std::max(peak_, held_);
  }
  changed();
}

void URLReceiveWindow::setOnOpen(std::function<void()> onOpen) {
  std::lock_guard<std::mutex> lock(mutex_);
  onOpen_ = std::move(onOpen);
}

bool URLReceiveWindow::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

void URLReceiveWindow::taken(std::size_t charged) {
  std::function<void()> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    charged = std::min(charged, held_);
    held_ -= charged;
    // Half the window free before the transport goes on: it then hands over many pieces per
    // wait, not one.
    if (waiting_ && held_ <= capacity_ / 2) {
      waiting_ = false;
      open = onOpen_;
    }
  }
  changed();
  if (open) open();
}

void URLReceiveWindow::changed() {
  auto& r = registry();
  if (!r.observed.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.observer) r.observer(countsLocked());
}

// Under the registry's lock.
URLReceiveWindow::Counts URLReceiveWindow::countsLocked() {
  auto& r = registry();
  Counts counts{0, r.gonePeak, r.goneWaits};
  for (const URLReceiveWindow* window = r.firstAlive; window; window = window->nextAlive_) {
    std::lock_guard<std::mutex> lock(window->mutex_);
    counts.held += window->held_;
    counts.peak = std::max(counts.peak, window->peak_);
    counts.waits += window->waits_;
  }
  return counts;
}

URLReceiveWindow::Counts URLReceiveWindow::counts() {
  std::lock_guard<std::mutex> lock(registry().mutex);
  return countsLocked();
}

void URLReceiveWindow::resetPeak() {
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.gonePeak = 0;
  for (URLReceiveWindow* window = r.firstAlive; window; window = window->nextAlive_) {
    std::lock_guard<std::mutex> windowLock(window->mutex_);
    window->peak_ = window->held_;
  }
}

void URLReceiveWindow::setObserver(std::function<void(const Counts&)> observer) {
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.observed.store(static_cast<bool>(observer), std::memory_order_release);
  r.observer = std::move(observer);
}

}  // namespace os
