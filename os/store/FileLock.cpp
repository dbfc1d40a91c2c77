#include "os/store/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "os/store/FileManager.h"

namespace os {

namespace {

int lockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// The process id a holder wrote at the start of the file; 0 when there is none yet.
int writtenHolder(int fd) {
  char text[24];
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  int pid = 0;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9' && pid < 100000000; ++i) pid = pid * 10 + (text[i] - '0');
  return pid;
}

}  // namespace

FileLock::FileLock(const std::string& path, Mode mode) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (lockRetrying(fd, mode == Mode::Shared ? LOCK_SH : LOCK_EX) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

std::unique_ptr<FileLock> FileLock::tryExclusive(const std::string& path, int* holder, Error* error) {
  if (holder) *holder = 0;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = fileError(errno, path);
    return nullptr;
  }
  if (lockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if (err == EWOULDBLOCK && holder) *holder = writtenHolder(fd);
    ::close(fd);
    if (error) *error = fileError(err, path);
    return nullptr;
  }
  // A holder that died left its id behind: replaced whole. The id only names the holder in a
  // refusal, so a lock whose id could not be written (a full disk) is still held.
  std::string id = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, id.data(), id.size(), 0);
  return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock() {
  // Closed, never unlocked: a child forked meanwhile shares the open file, and an unlock through
  // its copy would free the lock under this holder. The lock goes with the last descriptor.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace os
