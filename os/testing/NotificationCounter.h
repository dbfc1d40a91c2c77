#pragma once
// Counts the posts of one notification name, from any sender, on the default center while it lives;
// `each`, when given, hears every post on the posting thread too.
#include <atomic>
#include <functional>
#include <string>

#include "os/runtime/NotificationCenter.h"

namespace os::testing {

class NotificationCounter {
 public:
  explicit NotificationCounter(std::string name, std::function<void(const Notification&)> each = nullptr)
      : each_(std::move(each)),
        token_(NotificationCenter::defaultCenter().addObserver(std::move(name), nullptr, [this](const Notification& n) {
          ++count_;
          if (each_) each_(n);
        })) {}
  ~NotificationCounter() { NotificationCenter::defaultCenter().removeObserver(token_); }
  NotificationCounter(const NotificationCounter&) = delete;
  NotificationCounter& operator=(const NotificationCounter&) = delete;
  int count() const { return count_; }

 private:
  std::atomic<int> count_ = 0;
  std::function<void(const Notification&)> each_;
  NotificationCenter::ObserverToken token_;
};

}  // namespace os::testing
