#pragma once
// A disk that takes no file past a size, as a full disk takes none past what it has room for:
// a write that crosses it keeps its first part and the rest is refused. For tests of saves the
// disk refuses; the limit is the process's, so a test keeps its other writers quiet meanwhile.
#include <sys/resource.h>

#include <csignal>
#include <cstdint>

namespace os::testing {

class FullDisk {
 public:
  explicit FullDisk(std::uint64_t roomUpTo) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{static_cast<rlim_t>(roomUpTo), before_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FullDisk() { roomMade(); }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  // Room again, before the end of the scope.
  void roomMade() {
    if (done_) return;
    done_ = true;
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit before_{};
  void (*previous_)(int) = SIG_DFL;
  bool done_ = false;
};

}  // namespace os::testing
