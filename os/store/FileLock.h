#pragma once
// An advisory lock on a lock file (flock), held for the lifetime of the object. Every open makes
// its own lock, so threads of one process exclude each other as other processes do.
#include <string>

namespace os {

class FileLock {
 public:
  enum class Mode { Shared, Exclusive };
  // Creates the lock file (mode 0600) when missing and waits for the lock.
  FileLock(const std::string& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace os
