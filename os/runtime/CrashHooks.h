#pragma once
// Crash hooks: one chain for the crash signals (SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS) and one for std::terminate, shared by every client that wants to know about a crash (the
// news client's dump, the push client's crash capture, the crash reporter).
//
// Each hook has a name and a record file of its own, opened when the hooks are installed. When the
// process crashes every hook runs in the order it was added and writes its record through a
// CrashRecordWriter, which only formats into a fixed buffer and calls write(2): no allocation and no
// locks, so it is safe inside a signal handler. Then the handler that was installed before ours runs
// (a sanitizer's, a debugger's), and the process still dies of the signal. The signal handlers run
// on an alternate stack, so a stack overflow is recorded too.
//
// The records are read at the next start, once: takeRecords hands them over and empties the file,
// or readRecords and then discardRecords once the reader has kept them elsewhere.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"

namespace os {

inline constexpr const char* kCrashHooksErrorDomain = "os.crashhooks";
enum CrashHooksErrorCode : long {
  kCrashHooksFileError = 1,         // the record folder or a record file could not be opened
  kCrashHooksNameError = 2,         // empty, not [A-Za-z0-9._-], or already taken
  kCrashHooksFullError = 3,         // no room for another hook
  kCrashHooksInstalledError = 4,    // installed already, with another folder
};

// The signals the hooks catch (and SIGPIPE for a hook that asks for it).
inline constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

// What a hook may write while the process crashes. Everything goes into a fixed buffer (what does
// not fit is cut); nothing allocates.
class CrashRecordWriter {
 public:
  // 0 for an uncaught exception (std::terminate).
  int signal() const { return signal_; }
  // The signal's details (null for std::terminate) and the interrupted context.
  const siginfo_t* info() const { return info_; }
  void* context() const { return context_; }

  CrashRecordWriter& write(const char* text);
  CrashRecordWriter& write(const char* bytes, std::size_t count);
  CrashRecordWriter& writeDecimal(long long value);
  CrashRecordWriter& writeHex(std::uintptr_t value);
  // The return addresses of the crashing thread, one "0x..." per line.
  CrashRecordWriter& writeStack();

  CrashRecordWriter(char* buffer, std::size_t capacity, int signal, const siginfo_t* info, void* context)
      : buffer_(buffer), capacity_(capacity), signal_(signal), info_(info), context_(context) {}
  std::size_t size() const { return size_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t size_ = 0;
  int signal_;
  const siginfo_t* info_;
  void* context_;
};

struct CrashHook {
  // Runs inside the signal handler: only async-signal-safe work (the writer, write(2), no locks,
  // no allocation, no std::string).
  std::function<void(CrashRecordWriter&)> onSignal;
  // Runs from std::terminate, before the terminate handler installed earlier. Ordinary code may run
  // here (the exception is still current: see currentExceptionReason).
  std::function<void(CrashRecordWriter&)> onTerminate;
  // The folder of this hook's record file (created when missing), for a client that keeps its
  // records among its own files: its next start finds them there whoever installed the hooks
  // first. "" for the folder given to install.
  std::string directory{};
  // Also a death by SIGPIPE (a write to a closed pipe), which the other hooks leave alone. Caught
  // only while the process does not ignore SIGPIPE: ignored, it kills nothing.
  bool brokenPipe = false;
};

struct CrashRecord {
  std::string hook;
  int signal = 0;   // 0: an uncaught exception
  int code = 0;     // the signal's si_code
  std::uintptr_t address = 0;  // the faulting address, for SIGSEGV, SIGBUS, SIGFPE and SIGILL
  double time = 0;  // seconds since 1970, real time; 0 when the record's is not a possible time
  std::string text;  // what the hook wrote
  bool complete = true;  // false when the process died while the record was being written
};

class CrashHooks {
 public:
  // Makes `directory` the home of the record files (created when missing), opens the files of the
  // hooks added so far, sets up the alternate stack of the calling thread and installs the signal
  // handlers and the terminate handler, each keeping the one installed before. Installing again
  // with the same folder does nothing.
  static bool install(const std::string& directory, Error* error = nullptr);
  static bool isInstalled();

  // Adds a hook at the end of the chain; its record file opens now when installed or when the hook
  // names its own folder, else at install. Hooks are added at start-up, not while another thread
  // may be crashing.
  static bool addHook(const std::string& name, CrashHook hook, Error* error = nullptr);

  // The records a hook left in `directory` (the previous runs), oldest first; the file is emptied,
  // so each record is handed over once.
  static std::vector<CrashRecord> takeRecords(const std::string& directory, const std::string& name);
  // The same records, left in the file; `bytes` is how much of it they span. For a reader that
  // must keep them elsewhere first and then discards them.
  static std::vector<CrashRecord> readRecords(const std::string& directory, const std::string& name,
                                              std::size_t* bytes = nullptr);
  // Drops the first `bytes` of a hook's record file (records read and kept elsewhere); records
  // written after the reading stay. True when the records are gone (or there was no file).
  static bool discardRecords(const std::string& directory, const std::string& name, std::size_t bytes);

  // For onTerminate: "<type>: <reason>" of the exception in flight ("" when none).
  static std::string currentExceptionReason();

  // The record file of a hook in a folder.
  static std::string recordPath(const std::string& directory, const std::string& name);

  // An alternate signal stack for the calling thread while it lives, so its stack overflow is
  // recorded too; nothing when the hooks are not installed or the thread has one. Threads started
  // by os/runtime hold one.
  class ThreadStack {
   public:
    ThreadStack();
    ~ThreadStack();
    ThreadStack(const ThreadStack&) = delete;
    ThreadStack& operator=(const ThreadStack&) = delete;

   private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
  };
};

}  // namespace os
