#pragma once
// Counts the posts of one notification name on the default center while it lives, from any sender
// or from `object` only; `each`, when given, hears every counted post on the posting thread too.
// The observer goes with the counter, so an assertion that ends a test early leaves none behind.
#include <atomic>
#include <functional>
#include <string>

#include "os/runtime/NotificationCenter.h"

namespace os::testing {

class NotificationCounter {
 public:
  explicit NotificationCounter(std::string name, std::function<void(const Notification&)> each = nullptr,
                               const void* object = nullptr)
      : each_(std::move(each)),
        token_(NotificationCenter::defaultCenter().addObserver(std::move(name), object, [this](const Notification& n) {
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
