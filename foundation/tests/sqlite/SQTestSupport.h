#pragma once
// A fresh folder per test and a capture of the console lines.
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "os/core/Log.h"

namespace sqtest {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("sqdb-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

class LogCapture {
 public:
  LogCapture() {
    previous_ = os::setLogSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogCapture() { os::setLogSink(previous_); }
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

}  // namespace sqtest
