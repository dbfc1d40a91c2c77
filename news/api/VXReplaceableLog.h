#pragma once
// Where a class's failure lines go: the application's log file, unless a test installs its own
// writer. Safe to use from any thread.
#include <functional>
#include <mutex>
#include <string_view>

#include "news/api/VXGlobalHelper.h"

class VXReplaceableLog {
 public:
  using Writer = std::function<void(std::string_view line)>;

  // An empty writer restores the application's log.
  void set(Writer writer) {
    std::lock_guard lock(mutex_);
    writer_ = std::move(writer);
  }

  void write(std::string_view line) const {
    Writer writer;
    {
      std::lock_guard lock(mutex_);
      writer = writer_;
    }
    if (writer)
      writer(line);
    else
      VXGlobalHelper::writeLog(line);
  }

 private:
  mutable std::mutex mutex_;
  Writer writer_;
};
