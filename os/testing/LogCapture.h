#pragma once
// The console lines logged while it lives (from any thread); the sink before it comes back after.
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/Log.h"

namespace os::testing {

class LogCapture {
 public:
  LogCapture() {
    previous_ = os::setLogSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogCapture() { os::setLogSink(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::function<void(std::string_view)> previous_;
};

}  // namespace os::testing
