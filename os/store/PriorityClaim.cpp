#include "os/store/PriorityClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace os {

namespace {

int lockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

PriorityClaim::~PriorityClaim() {
  if (claimFd_ >= 0) ::close(claimFd_);
  if (probeFd_ >= 0) ::close(probeFd_);
}

bool PriorityClaim::claim() {
  if (held_) return true;
  if (claimFd_ < 0) claimFd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  held_ = claimFd_ >= 0 && lockRetrying(claimFd_, LOCK_EX | LOCK_NB) == 0;
  return held_;
}

void PriorityClaim::release() {
  if (!held_) return;
  lockRetrying(claimFd_, LOCK_UN);
  held_ = false;
}

bool PriorityClaim::claimedByOther() {
  if (held_) return false;
  if (probeFd_ < 0) {
    // No file: nobody has ever claimed.
    probeFd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (probeFd_ < 0) return false;
  }
  if (lockRetrying(probeFd_, LOCK_SH | LOCK_NB) == 0) {
    lockRetrying(probeFd_, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

}  // namespace os
