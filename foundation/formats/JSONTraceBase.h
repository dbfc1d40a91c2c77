#pragma once
// What the parser, the writer and the facades of the JSON codec with error trace share: the
// error trace of the last call and the nesting limit.
//
// The trace runs from the innermost cause to the step in which a failure surfaced. Every error
// but the first carries the one before it under os::kErrorUnderlyingErrorKey, so the last error
// alone leads back through the whole chain (see underlyingError()).
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/formats/JSONTraceProfile.h"
#include "os/core/Error.h"

// Error codes of the codec.
enum : long {
  kJSONTraceUnsupported = 1,      // a value that cannot be written
  kJSONTraceBadNumber = 2,
  kJSONTraceUnexpected = 3,
  kJSONTraceNotContainer = 4,     // a valid value where an array or object is required
  kJSONTraceControlCharacter = 5,
  kJSONTraceBadUnicode = 6,
  kJSONTraceTooDeep = 7,
  kJSONTraceBadEscape = 8,
  kJSONTraceTrailingComma = 9,
  kJSONTraceGarbage = 10,
  kJSONTraceEndOfInput = 11,
  kJSONTraceNoInput = 12,
};

class JSONTraceBase {
 public:
  explicit JSONTraceBase(const JSONTraceProfile& profile) : profile_(profile) {}
  virtual ~JSONTraceBase() = default;
  JSONTraceBase(const JSONTraceBase&) = delete;
  JSONTraceBase& operator=(const JSONTraceBase&) = delete;

  const JSONTraceProfile& profile() const { return profile_; }

  // Empty when the last call succeeded (the platform's absent trace).
  const std::vector<os::Error>& errorTrace() const { return errorTrace_; }

  // 0 means no limit of the caller's; nesting is still bounded by kNestingHardLimit so that
  // hostile input cannot exhaust the thread's stack.
  virtual std::uint32_t maxDepth() const { return maxDepth_.load(); }
  virtual void setMaxDepth(std::uint32_t depth) { maxDepth_.store(depth); }
  static constexpr std::uint32_t kNestingHardLimit = 2048;

  void addErrorWithCode(long code, std::string description);
  void clearErrorTrace() { errorTrace_.clear(); }

  // The error recorded before `error` in its trace, rebuilt from its user info.
  static std::optional<os::Error> underlyingError(const os::Error& error);

 protected:
  // Entering an array or object: false (with code 7 recorded) when it nests too deep.
  bool enterLevel();
  void leaveLevel() { --depth_; }

  const JSONTraceProfile& profile_;
  std::vector<os::Error> errorTrace_;
  std::uint32_t depth_ = 0;
  std::atomic<std::uint32_t> maxDepth_{512};
};
