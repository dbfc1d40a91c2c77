#include "os/store/PreparedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace os {
namespace {

PreparedFile gFiles[PreparedFile::kMaximumFiles];
std::atomic<int> gFileCount{0};
std::mutex gSetupMutex;  // making slots and swapping contents; never taken by a crash handler
// Set by the first crash-time write: from then on no prepared contents are freed.
std::atomic<bool> gWriting{false};

bool writeAll(int fd, const unsigned char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

PreparedFile* PreparedFile::forPath(const std::string& path) {
  if (path.empty() || path.size() >= kMaximumPath) return nullptr;
  std::lock_guard lock(gSetupMutex);
  int count = gFileCount.load();
  for (int i = 0; i < count; ++i)
    if (path == gFiles[i].path_) return &gFiles[i];
  auto take = [&](PreparedFile& file) {
    std::memcpy(file.path_, path.c_str(), path.size() + 1);
    std::snprintf(file.temporary_, sizeof file.temporary_, "%s.prepared", path.c_str());
    return &file;
  };
  if (count < kMaximumFiles) {
    PreparedFile* file = take(gFiles[count]);
    gFileCount.store(count + 1, std::memory_order_release);
    return file;
  }
  // A process that met more paths than slots (a long run of caches opened and closed) hands a
  // slot on once its file has nothing prepared; never while a crash is being written. Its
  // contents only change under this lock, so it stays empty while its path is rewritten.
  if (gWriting.load()) return nullptr;
  for (int i = 0; i < count; ++i)
    if (!gFiles[i].contents_.load()) return take(gFiles[i]);
  return nullptr;
}

void PreparedFile::replace(Contents* next) {
  std::lock_guard lock(gSetupMutex);
  Contents* previous = contents_.exchange(next);
  // A handler that began writing may hold `previous`; once gWriting is seen false here, any
  // handler starts after the exchange and reads `next`.
  if (previous && !gWriting.load()) delete previous;
}

void PreparedFile::prepare(const Data& contents) { prepare({std::make_shared<const Data>(contents)}); }

void PreparedFile::prepare(std::vector<std::shared_ptr<const Data>> pieces) {
  std::erase_if(pieces, [](const auto& piece) { return !piece; });
  replace(new Contents{std::move(pieces)});
}

void PreparedFile::clear() { replace(nullptr); }

bool PreparedFile::isPrepared() const { return contents_.load() != nullptr; }

bool PreparedFile::writePrepared() {
  gWriting.store(true);
  const Contents* contents = contents_.load();
  if (!contents) return false;
  int fd = ::open(temporary_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = true;
  for (const auto& piece : contents->pieces)
    if (written && !piece->empty()) written = writeAll(fd, piece->data(), piece->size());
  written = written && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    ::unlink(temporary_);
    return false;
  }
  return ::rename(temporary_, path_) == 0;
}

void PreparedFile::writeAllPrepared() {
  gWriting.store(true);
  int count = gFileCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i) gFiles[i].writePrepared();
}

}  // namespace os
