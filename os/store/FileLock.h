#pragma once
// An advisory lock on a lock file (flock), held for the lifetime of the object. Every open makes
// its own lock, so threads of one process exclude each other as other processes do. The kernel
// drops the lock when its holder ends, however it ends. A child forked while it is held shares
// it: the lock goes once the parent's object and the child's copy have both let go.
#include <memory>
#include <string>

#include "os/core/Error.h"

namespace os {

class FileLock {
 public:
  enum class Mode { Shared, Exclusive };
  // Creates the lock file (mode 0600) when missing and waits for the lock.
  FileLock(const std::string& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Never waits: the lock, taken exclusively, with this process's id written in the file for
  // whoever is refused next. Null when it is held elsewhere (another process, or another open in
  // this one): *error has code EWOULDBLOCK and *holder the id its holder wrote (0 when none was
  // readable yet); or when the file cannot be opened or locked (*error says why, *holder is 0).
  static std::unique_ptr<FileLock> tryExclusive(const std::string& path, int* holder, Error* error);

  bool locked() const { return fd_ >= 0; }

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace os
