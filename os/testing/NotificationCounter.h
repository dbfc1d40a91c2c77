#pragma once
// Counts the posts of one notification name, from any sender, on the default center while it lives.
#include <atomic>
#include <string>

#include "os/runtime/NotificationCenter.h"

namespace os::testing {

class NotificationCounter {
 public:
  explicit NotificationCounter(std::string name)
      : token_(NotificationCenter::defaultCenter().addObserver(std::move(name), nullptr,
                                                               [this](const Notification&) { ++count_; })) {}
  ~NotificationCounter() { NotificationCenter::defaultCenter().removeObserver(token_); }
  NotificationCounter(const NotificationCounter&) = delete;
  NotificationCounter& operator=(const NotificationCounter&) = delete;
  int count() const { return count_; }

 private:
  std::atomic<int> count_ = 0;
  NotificationCenter::ObserverToken token_;
};

}  // namespace os::testing
