#pragma once
// A serial queue that knows whether work is still waiting on it, so the client can be drained
// before it goes away (its tasks point back at it) and tests can wait for a quiet client.
#include <atomic>
#include <memory>
#include <string>

#include "os/runtime/DispatchQueue.h"

class VMA4QCTaskQueue {
 public:
  explicit VMA4QCTaskQueue(std::string label) : queue_(os::DispatchQueue::create(std::move(label))) {}

  void async(os::DispatchQueue::Task task) {
    ++pending_;
    queue_->async([this, task = std::move(task)] {
      task();
      --pending_;
    });
  }
  void sync(const os::DispatchQueue::Task& task) { queue_->sync(task); }
  bool idle() const { return pending_ == 0; }
  // Waits for what is queued now.
  void drain() { queue_->sync([] {}); }
  const std::string& label() const { return queue_->label(); }

 private:
  std::shared_ptr<os::DispatchQueue> queue_;
  std::atomic<int> pending_{0};
};
