#pragma once
// A file's next contents, prepared ahead for a crash. While the process runs, prepare() hands over
// the bytes the file should hold if the process died now; a crash handler then writes every
// prepared file with open, write and rename alone (no allocation, no locks), which a signal
// handler may do. The rename replaces the file whole, or leaves the old one as it was.
//
// One slot per path; slots are never freed, so a handler never meets one going away. When every
// slot is taken, one with nothing prepared may take a new path: a handler reads a slot's path only
// after finding contents in it. Callers look their slot up for each preparation rather than keep
// it, so a slot that changed hands is never prepared for its old path.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "os/core/Data.h"

namespace os {

class PreparedFile {
 public:
  static constexpr int kMaximumFiles = 8;
  static constexpr std::size_t kMaximumPath = 1024;

  // The slot of a path, made on first use; null when the path is too long or every slot holds
  // prepared contents.
  static PreparedFile* forPath(const std::string& path);

  // The contents to write at a crash, replacing what was prepared before. Any thread.
  void prepare(const Data& contents);
  // The same as pieces written one after another, shared rather than copied: a caller that keeps
  // most pieces from one preparation to the next pays only for the ones it changed.
  void prepare(std::vector<std::shared_ptr<const Data>> pieces);
  // Nothing to write at a crash.
  void clear();
  bool isPrepared() const;

  // Async-signal-safe: writes this file's prepared contents; false when none or a call failed.
  bool writePrepared();
  // Async-signal-safe: writes every prepared file. From the first call on, prepared contents are
  // never freed (a handler may be reading them), so it belongs to a dying process.
  static void writeAllPrepared();

  PreparedFile() = default;
  PreparedFile(const PreparedFile&) = delete;
  PreparedFile& operator=(const PreparedFile&) = delete;

 private:
  struct Contents {
    std::vector<std::shared_ptr<const Data>> pieces;  // only read, never resized, once published
  };
  void replace(Contents* next);

  char path_[kMaximumPath] = {};
  char temporary_[kMaximumPath + 16] = {};
  std::atomic<Contents*> contents_{nullptr};
};

}  // namespace os
