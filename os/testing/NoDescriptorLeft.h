#pragma once
// Every descriptor of the process in use for the object's life: the soft limit lowered and what is
// left under it held, then both given back. For tests of what a component does when the process
// has no descriptor left; the limit is the process's, so a test keeps its other users quiet.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace os::testing {

class NoDescriptorLeft {
 public:
  NoDescriptorLeft() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 512);
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) held_.push_back(fd);
  }
  ~NoDescriptorLeft() { giveBack(); }
  NoDescriptorLeft(const NoDescriptorLeft&) = delete;
  NoDescriptorLeft& operator=(const NoDescriptorLeft&) = delete;

  // Descriptors again, before the end of the scope.
  void giveBack() {
    for (int fd : held_) ::close(fd);
    held_.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> held_;
};

}  // namespace os::testing
