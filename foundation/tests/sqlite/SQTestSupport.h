#pragma once
// A fresh folder per test, and the capture of the console lines.
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "os/testing/LogCapture.h"

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

using os::testing::LogCapture;

}  // namespace sqtest
