#include "os/runtime/DispatchGroup.h"

#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "os/runtime/ClockWait.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Fatal.h"

namespace os {

struct DispatchGroup::State {
  std::mutex mutex;
  std::condition_variable cv;
  long count = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() {
  std::lock_guard lock(state_->mutex);
  ++state_->count;
}

void DispatchGroup::leave() {
  decltype(State::notifications) due;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count <= 0) fatalError("dispatch group: leave without a matching enter");
    if (--state_->count > 0) return;
    due.swap(state_->notifications);
    state_->cv.notify_all();
  }
  for (auto& [queue, task] : due) queue->async(std::move(task));
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task) {
  enter();
  queue->async([group = *this, task = std::move(task)]() mutable {
    task();
    group.leave();
  });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> task) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count > 0) {
      state_->notifications.emplace_back(queue, std::move(task));
      return;
    }
  }
  queue->async(std::move(task));
}

void DispatchGroup::wait() { waitFor(std::numeric_limits<double>::infinity()); }

bool DispatchGroup::waitFor(double timeout) {
  std::unique_lock lock(state_->mutex);
  return waitWithClock(lock, state_->cv, [&] { return state_->count == 0; }, timeout);
}

}  // namespace os
