#pragma once
// Crash capture of the push client, on the platform's crash hooks: while the process crashes the
// hook only writes a record (the signal or the exception's reason, and the call stack), async-
// signal-safe and chained to the handlers installed before; at the next start the records become
// crash records of the report scheduler's crash set, identical ones counted, and are reported.
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"

class DUVCrashCapture {
 public:
  static constexpr const char* kHookName = "zurar";
  // The folder of the crash records in the current sandbox.
  static std::string recordDirectory();
  // Adds the hook and installs the platform's crash hooks in `directory` (once per process).
  static bool install(const std::string& directory, os::Error* error = nullptr);
  // Takes the records the previous runs left into the crash set: each element is a two-item list
  // (crash record, call-stack text); a crash with the same message and stack counts one more.
  static std::size_t collect(const std::string& directory, os::Array& logSet, const os::Dictionary& deviceInfo,
                             const std::string& networkType);
};
