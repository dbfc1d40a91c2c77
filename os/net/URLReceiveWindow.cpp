#include "os/net/URLReceiveWindow.h"

#include <algorithm>
#include <utility>

namespace os {

namespace {
struct Ledger {
  std::mutex mutex;
  URLReceiveWindow::Counts counts;
  std::function<void(const URLReceiveWindow::Counts&)> observer;

  void change(std::size_t add, std::size_t take, bool wait) {
    std::lock_guard<std::mutex> lock(mutex);
    counts.held += add;
    counts.held -= std::min(take, counts.held);
    counts.peak = std::max(counts.peak, counts.held);
    if (wait) ++counts.waits;
    if (observer) observer(counts);
  }
};

Ledger& ledger() {
  static auto* l = new Ledger;  // never destroyed: transfers may end during exit
  return *l;
}
}  // namespace

URLReceiveWindow::~URLReceiveWindow() {
  // What was never taken leaves the process-wide count with the window.
  if (held_) ledger().change(0, held_, false);
}

bool URLReceiveWindow::full() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_ < capacity_) return false;
    if (waiting_) return true;
    waiting_ = true;
  }
  ledger().change(0, 0, true);
  return true;
}

void URLReceiveWindow::handedOver(std::size_t charged) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ += charged;
  }
  ledger().change(charged, 0, false);
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
  ledger().change(0, charged, false);
  if (open) open();
}

URLReceiveWindow::Counts URLReceiveWindow::counts() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  return ledger().counts;
}

void URLReceiveWindow::resetPeak() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  ledger().counts.peak = ledger().counts.held;
}

void URLReceiveWindow::setObserver(std::function<void(const Counts&)> observer) {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  ledger().observer = std::move(observer);
}

}  // namespace os
