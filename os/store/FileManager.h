#pragma once
// Files and folders on the real file system, with failures as os::Error (domain kFileErrorDomain,
// code = the errno value, the path under kFilePathErrorKey).
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Date.h"
#include "os/core/Error.h"

namespace os {

inline constexpr const char* kFileErrorDomain = "os.file";
inline constexpr const char* kFilePathErrorKey = "FilePath";

struct FileAttributes {
  std::uint64_t size = 0;           // bytes of content
  std::uint64_t allocatedSize = 0;  // bytes the file takes on disk
  Date modificationDate;
  bool isDirectory = false;
  bool isRegularFile = false;     // neither a folder nor a device, pipe or socket
  mode_t permissions = 0;
};

struct FileSystemAttributes {
  std::uint64_t freeSize = 0;
  std::uint64_t totalSize = 0;
};

struct WriteOptions {
  bool atomic = true;    // into a temporary file beside the target, then renamed over it
  mode_t mode = 0644;    // applied exactly (not reduced by the umask)
};

class FileManager {
 public:
  static FileManager& defaultManager();

  bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;
  bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories, Error* error = nullptr) const;

  // A file of more than `maxBytes` is not read: absent, with EFBIG (checked as it is read too, so a
  // file growing meanwhile is no exception). For files another application may write.
  std::optional<Data> contentsAtPath(const std::string& path, Error* error = nullptr,
                                     std::uint64_t maxBytes = UINT64_MAX) const;
  // Whether a read that failed with `error` may succeed when tried again: no descriptor or memory
  // was left, or the device gave an input error. A file refused for good (a folder in its place,
  // no permission) is not worth waiting for.
  static bool mayReadLater(const Error& error);
  bool writeData(const Data& data, const std::string& path, WriteOptions options = {}, Error* error = nullptr) const;
  // An atomic write that asks `replacing`, on the writing thread once the temporary file is whole,
  // just before it replaces the target, so a writer can keep a newer file from being replaced by
  // an older one. False leaves the target as it is and removes the temporary file; the write still
  // succeeds. What it locks may stay locked until the call returns, covering the replacement.
  bool writeDataReplacing(const Data& data, const std::string& path, const std::function<bool()>& replacing,
                          mode_t mode = 0644, Error* error = nullptr) const;
  // Appends, creating the file when missing. An append the disk takes only part of leaves the
  // file as it was before it.
  bool appendData(const Data& data, const std::string& path, Error* error = nullptr) const;
  // Makes the folder's own changes (names made, renamed or removed in it) reach the disk, as an
  // atomic write does the file's bytes: after that write, the new name outlives a power loss.
  bool synchronizeDirectoryAtPath(const std::string& path, Error* error = nullptr) const;

  // Removes the temporary files that atomic writes of `path` left behind when they were cut short
  // (the process killed, the power lost). A write under way keeps its file: this process's own
  // writes under way, and every file of another process that still exists (or any process whose id
  // was given again since). A file of this process's id that none of its writes holds is an earlier
  // process's. Only regular files go; every other name stays. Answers how many were removed.
  std::size_t removeAbandonedTemporaryFiles(const std::string& path) const;
  // The same for every target in the folder at `path`, for stores of many files whose names are
  // not all known: any file named as temporaryFileName names one there. A store's own file must
  // not be named so.
  std::size_t removeAbandonedTemporaryFilesInDirectory(const std::string& path) const;

  // A file, or a folder with everything in it.
  bool removeItemAtPath(const std::string& path, Error* error = nullptr) const;
  // Both fail when the destination exists.
  bool copyItemAtPath(const std::string& source, const std::string& destination, Error* error = nullptr) const;
  bool moveItemAtPath(const std::string& source, const std::string& destination, Error* error = nullptr) const;

  std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path, Error* error = nullptr) const;
  bool setModificationDate(const std::string& path, Date date, Error* error = nullptr) const;
  std::optional<FileSystemAttributes> attributesOfFileSystemForPath(const std::string& path,
                                                                    Error* error = nullptr) const;

  // Names in the folder (hidden ones included), sorted.
  std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                    Error* error = nullptr) const;
  // Paths relative to the folder, sorted, descending into sub-folders; names starting with "."
  // (and whatever lies below them) are skipped.
  std::vector<std::string> enumerateDirectory(const std::string& path) const;

 private:
  bool write(const Data& data, const std::string& path, WriteOptions options, const std::function<bool()>& replacing,
             Error* error) const;
};

// The temporary file an atomic write of `path` fills and then renames over it: a hidden name
// beside it carrying the writer's process id and the count of that process's atomic writes.
std::string temporaryFileName(const std::string& path, pid_t writer, unsigned long long serial);

// For tests: called by each atomic write of this process once its temporary file exists, before
// anything is written into it, on the writing thread (so a test can hold a write under way).
void setTemporaryFileObserverForTesting(std::function<void(const std::string& temporaryPath)> observer);

// The error of a failed call on path (errno value err).
Error fileError(int err, const std::string& path);

// Joins two path parts with one "/".
std::string appendingPathComponent(const std::string& path, const std::string& component);
// The folder holding path ("." for a bare name, "/" for an entry of the root).
std::string deletingLastPathComponent(const std::string& path);
// A name beside path that nothing holds yet (a link holds its name, even one leading nowhere), for
// a file set aside because it could not be read: "PATH.refused", then "PATH.refused-2", ...
std::string refusedFileName(const std::string& path);

}  // namespace os
