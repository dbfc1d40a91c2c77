#include "os/store/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>

namespace os {

namespace fs = std::filesystem;

namespace {

bool report(Error* error, int err, const std::string& path) {
  if (error) *error = fileError(err, path);
  return false;
}

// `written`, when given, counts what reached the file, also when the rest was refused.
bool writeAll(int fd, const Data& data, std::size_t* written = nullptr) {
  std::size_t local = 0;
  std::size_t& done = written ? *written : local;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string parentOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether a name is in use, whatever it names: a link counts as itself, even one that leads
// nowhere, since a copy or a move would have to replace it.
bool nameTaken(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

Error fileError(int err, const std::string& path) {
  Dictionary info{{kErrorDescriptionKey, Value(std::string(std::strerror(err)) + ": " + path)},
                  {kFilePathErrorKey, Value(path)}};
  return Error(kFileErrorDomain, err, std::move(info));
}

std::string deletingLastPathComponent(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string refusedFileName(const std::string& path) {
  std::string name = path + ".refused";
  // Taken as the move that follows takes it, so the name found is one the move accepts.
  for (int n = 2; nameTaken(name); ++n) name = path + ".refused-" + std::to_string(n);
  return name;
}

std::string appendingPathComponent(const std::string& path, const std::string& component) {
  if (path.empty()) return component;
  if (component.empty()) return path;
  std::string out = path;
  if (out.back() != '/') out += '/';
  std::size_t start = 0;
  while (start < component.size() && component[start] == '/') ++start;
  return out + component.substr(start);
}

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

bool FileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

bool FileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories, Error* error) const {
  if (withIntermediateDirectories) {
    std::error_code ec;
    fs::create_directories(path, ec);
    bool isDir = false;
    if (fileExistsAtPath(path, &isDir) && isDir) return true;
    return report(error, ec ? ec.value() : ENOTDIR, path);
  }
  if (::mkdir(path.c_str(), 0755) != 0) return report(error, errno, path);
  return true;
}

std::optional<Data> FileManager::contentsAtPath(const std::string& path, Error* error, std::uint64_t maxBytes) const {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report(error, errno, path);
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    report(error, EISDIR, path);
    return std::nullopt;
  }
  const bool tooLarge = st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes;
  if (tooLarge) {
    ::close(fd);
    report(error, EFBIG, path);
    return std::nullopt;
  }
  Data out;
  std::uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      report(error, err, path);
      return std::nullopt;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      report(error, EFBIG, path);
      return std::nullopt;
    }
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

bool FileManager::mayReadLater(const Error& error) {
  if (error.domain != kFileErrorDomain) return false;
  switch (error.code) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
    case EIO:
    case EINTR:
    case EAGAIN:
    case EBUSY:
      return true;
    default:
      return false;
  }
}

std::string temporaryFileName(const std::string& path, pid_t writer, unsigned long long serial) {
  // The name must fit where the target's name fits: it is unique by its suffix, so the part of the
  // target's name it carries is cut to leave room.
  constexpr std::size_t kLongestName = 255;
  const std::string suffix = ".tmp." + std::to_string(writer) + "." + std::to_string(serial);
  std::string name = lastComponent(path);
  if (1 + name.size() + suffix.size() > kLongestName) name.resize(kLongestName - 1 - suffix.size());
  return appendingPathComponent(parentOf(path), "." + name + suffix);
}

namespace {

struct TemporaryName {
  pid_t writer;
  unsigned long long serial;
};

// The writer and the write of `name` when it has the form of a temporary file's name: a hidden
// name ending in ".tmp.", the writer's process id, "." and the count of its write. Whose target
// it belongs to the callers check by spelling it again.
std::optional<TemporaryName> temporaryNameParts(const std::string& name) {
  const std::size_t serialDot = name.rfind('.');
  if (serialDot == std::string::npos || serialDot == 0) return std::nullopt;
  const std::size_t writerDot = name.rfind('.', serialDot - 1);
  if (writerDot == std::string::npos) return std::nullopt;
  auto number = [&name](std::size_t from, std::size_t to) -> std::optional<unsigned long long> {
    if (from == to || to - from > 19) return std::nullopt;  // 19 digits cannot overflow
    unsigned long long n = 0;
    for (std::size_t i = from; i < to; ++i) {
      if (name[i] < '0' || name[i] > '9') return std::nullopt;
      n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return n;
  };
  auto writer = number(writerDot + 1, serialDot);
  auto serial = number(serialDot + 1, name.size());
  if (!writer || !serial || *writer == 0 || *writer > static_cast<unsigned long long>(INT32_MAX)) return std::nullopt;
  return TemporaryName{static_cast<pid_t>(*writer), *serial};
}

// The temporary name of `name` for a write of the target named `target`, exactly as
// temporaryFileName spells it for that writer and write.
std::optional<TemporaryName> temporaryNameOf(const std::string& target, const std::string& name) {
  auto parts = temporaryNameParts(name);
  if (!parts || lastComponent(temporaryFileName(target, parts->writer, parts->serial)) != name) return std::nullopt;
  return parts;
}

// The writes of this process under way, by their count: a temporary file carrying this process's id
// and a count not here is no write of this process's, but a leftover of an earlier process that
// had the same id. The cleanup asks and removes under the lock a write registers under before it
// makes its file, so it never removes one being written.
// Never destroyed: a write on another thread may still run while the process exits.
std::mutex& writesMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::set<unsigned long long>& writesUnderWay() {
  static auto* serials = new std::set<unsigned long long>;
  return *serials;
}

std::function<void(const std::string&)>& temporaryFileObserver() {
  static auto* observer = new std::function<void(const std::string&)>;
  return *observer;
}

// Removes the entry `name` of `folder`, a temporary file of `parts`, unless its write may be under
// way: its process exists (another process's, or one whose id was given again since), or it is one
// of this process's own writes. Only a file goes: a folder, a link or anything else stays.
bool removeIfAbandoned(const std::string& folder, const std::string& name, TemporaryName parts) {
  const std::string path = appendingPathComponent(folder, name);
  auto removeFile = [&path] {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0;
  };
  if (parts.writer != ::getpid()) {
    if (::kill(parts.writer, 0) == 0 || errno != ESRCH) return false;
    return removeFile();
  }
  std::lock_guard lock(writesMutex());
  return !writesUnderWay().contains(parts.serial) && removeFile();
}

}  // namespace

void setTemporaryFileObserverForTesting(std::function<void(const std::string&)> observer) {
  std::lock_guard lock(writesMutex());
  temporaryFileObserver() = std::move(observer);
}

std::size_t FileManager::removeAbandonedTemporaryFiles(const std::string& path) const {
  const std::string folder = parentOf(path);
  auto names = contentsOfDirectoryAtPath(folder);
  if (!names) return 0;
  std::size_t removed = 0;
  const std::string own = lastComponent(path);
  for (const std::string& name : *names) {
    // A target may itself be named like a temporary file of its own (a long name of that form
    // cut to fit spells itself): it is never one to remove.
    if (name == own) continue;
    auto parts = temporaryNameOf(path, name);
    if (parts && removeIfAbandoned(folder, name, *parts)) ++removed;
  }
  return removed;
}

std::size_t FileManager::removeAbandonedTemporaryFilesInDirectory(const std::string& path) const {
  auto names = contentsOfDirectoryAtPath(path);
  if (!names) return 0;
  std::size_t removed = 0;
  for (const std::string& name : *names) {
    // The target's name the temporary one carries (cut, when it was long): spelling the temporary
    // name of that target again must give the name found, whole.
    if (name.size() < 2 || name[0] != '.') continue;
    const std::size_t writerDot = name.rfind('.', name.rfind('.') - 1);
    constexpr std::string_view kMark = ".tmp";
    if (writerDot == std::string::npos || writerDot < 1 + kMark.size() + 1 ||
        name.compare(writerDot - kMark.size(), kMark.size(), kMark) != 0)
      continue;
    auto parts = temporaryNameOf(name.substr(1, writerDot - kMark.size() - 1), name);
    if (parts && removeIfAbandoned(path, name, *parts)) ++removed;
  }
  return removed;
}

bool FileManager::writeData(const Data& data, const std::string& path, WriteOptions options, Error* error) const {
  return write(data, path, options, {}, error);
}

bool FileManager::writeDataReplacing(const Data& data, const std::string& path, const std::function<bool()>& replacing,
                                     mode_t mode, Error* error) const {
  return write(data, path, WriteOptions{.atomic = true, .mode = mode}, replacing, error);
}

bool FileManager::write(const Data& data, const std::string& path, WriteOptions options,
                        const std::function<bool()>& replacing, Error* error) const {
  static std::atomic<unsigned long long> counter{0};
  std::string target = path;
  int fd = -1;
  // The write under way, known to the cleanup from before its file exists until it is renamed or
  // removed.
  struct UnderWay {
    std::optional<unsigned long long> serial;
    void begin(unsigned long long s) {
      std::lock_guard lock(writesMutex());
      writesUnderWay().insert(s);
      serial = s;
    }
    void end() {
      if (!serial) return;
      const int err = errno;
      std::lock_guard lock(writesMutex());
      writesUnderWay().erase(*serial);
      serial.reset();
      errno = err;
    }
    ~UnderWay() { end(); }
  } underWay;
  if (!options.atomic) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, options.mode);
  } else {
    // Process ids come round again (a container starts each time with the same few), so a name
    // may be held by a file an earlier process of this id left until a cleanup removes it. Such a
    // name is passed over for the next one.
    do {
      underWay.end();
      const unsigned long long serial = counter++;
      target = temporaryFileName(path, ::getpid(), serial);
      underWay.begin(serial);
      fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, options.mode);
    } while (fd < 0 && errno == EEXIST);
    if (fd >= 0) {
      std::function<void(const std::string&)> observer;
      {
        std::lock_guard lock(writesMutex());
        observer = temporaryFileObserver();
      }
      if (observer) observer(target);
    }
  }
  if (fd < 0) return report(error, errno, target);
  bool ok = ::fchmod(fd, options.mode) == 0 && writeAll(fd, data) && (!options.atomic || ::fsync(fd) == 0);
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  // Failures up to here are the temporary file's; the rename's is the target's.
  const std::string* failed = &target;
  if (ok && options.atomic && replacing && !replacing()) {
    ::unlink(target.c_str());
    return true;
  }
  if (ok && options.atomic && ::rename(target.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
    failed = &path;
  }
  if (!ok) {
    if (options.atomic) ::unlink(target.c_str());
    return report(error, err, *failed);
  }
  return true;
}

bool FileManager::appendData(const Data& data, const std::string& path, Error* error) const {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return report(error, errno, path);
  std::size_t done = 0;
  bool ok = writeAll(fd, data, &done);
  int err = errno;
  // A full disk takes part of the bytes and refuses the rest: the part goes again, so the file
  // ends where it did rather than in half a line the next append would run on from.
  if (!ok && done > 0) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end >= static_cast<off_t>(done)) (void)::ftruncate(fd, end - static_cast<off_t>(done));
  }
  ::close(fd);
  return ok || report(error, err, path);
}

bool FileManager::synchronizeDirectoryAtPath(const std::string& path, Error* error) const {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return report(error, errno, path);
  bool ok = ::fsync(fd) == 0;
  int err = errno;
  ::close(fd);
  return ok || report(error, err, path);
}

bool FileManager::removeItemAtPath(const std::string& path, Error* error) const {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return report(error, errno, path);
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) return report(error, ec.value(), path);
  return true;
}

bool FileManager::copyItemAtPath(const std::string& source, const std::string& destination, Error* error) const {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) return report(error, errno, source);
  if (nameTaken(destination)) return report(error, EEXIST, destination);
  std::error_code ec;
  fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) return report(error, ec.value(), destination);
  return true;
}

bool FileManager::moveItemAtPath(const std::string& source, const std::string& destination, Error* error) const {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) return report(error, errno, source);
  if (nameTaken(destination)) return report(error, EEXIST, destination);
  if (::rename(source.c_str(), destination.c_str()) == 0) return true;
  if (errno != EXDEV) return report(error, errno, destination);
  // Across file systems: copy, then remove the original.
  if (!copyItemAtPath(source, destination, error)) return false;
  return removeItemAtPath(source, error);
}

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path, Error* error) const {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    report(error, errno, path);
    return std::nullopt;
  }
  FileAttributes a;
  a.size = static_cast<std::uint64_t>(st.st_size);
  a.allocatedSize = static_cast<std::uint64_t>(st.st_blocks) * 512u;
  a.modificationDate = Date::fromTimeIntervalSince1970(static_cast<double>(st.st_mtim.tv_sec) +
                                                      static_cast<double>(st.st_mtim.tv_nsec) / 1e9);
  a.isDirectory = S_ISDIR(st.st_mode);
  a.isRegularFile = S_ISREG(st.st_mode);
  a.permissions = st.st_mode & 07777;
  return a;
}

bool FileManager::setModificationDate(const std::string& path, Date date, Error* error) const {
  double s = date.timeIntervalSince1970();
  double whole = std::floor(s);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(whole);
  times[1].tv_nsec = static_cast<long>((s - whole) * 1e9);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return report(error, errno, path);
  return true;
}

std::optional<FileSystemAttributes> FileManager::attributesOfFileSystemForPath(const std::string& path,
                                                                               Error* error) const {
  struct statvfs sv;
  if (::statvfs(path.c_str(), &sv) != 0) {
    report(error, errno, path);
    return std::nullopt;
  }
  FileSystemAttributes a;
  a.freeSize = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
  a.totalSize = static_cast<std::uint64_t>(sv.f_blocks) * sv.f_frsize;
  return a;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                               Error* error) const {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    report(error, errno, path);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> FileManager::enumerateDirectory(const std::string& path) const {
  std::vector<std::string> out;
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    std::string rel = std::move(pending.back());
    pending.pop_back();
    auto names = contentsOfDirectoryAtPath(rel.empty() ? path : appendingPathComponent(path, rel));
    if (!names) continue;
    for (const std::string& name : *names) {
      if (name[0] == '.') continue;
      std::string child = rel.empty() ? name : rel + "/" + name;
      out.push_back(child);
      struct stat st;
      // Symbolic links to folders are listed but not followed, so a loop cannot trap the walk.
      if (::lstat(appendingPathComponent(path, child).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        pending.push_back(child);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace os
