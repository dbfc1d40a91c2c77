#pragma once
// The crash reporter's public entry. The application starts it once, at launch, and ignores the
// shared reporter it gets back.
//
// The first start in a process takes the crash records the previous runs left in the reporter's
// folder, then joins the platform's crash-hook chain as "brekka": a crash (a fatal signal or an
// exception nobody caught) leaves one record there, the reason and the call stack, for the next
// start. Records are kept on the reporter; nothing is sent anywhere yet. Every start is also
// written to the process's ServiceCallLog under "Brekka".
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/runtime/CrashHooks.h"

class Brekka {
 public:
  static constexpr const char* kHookName = "brekka";
  // The reporter's own folder: "com.brekka.data" in the current sandbox's caches folder.
  static std::string dataDirectory();

  // Starts the reporter with the API key and no delegate; returns the shared reporter. The crash
  // handlers are installed by the first start of the process; later starts only take the key.
  static std::shared_ptr<Brekka> startWithAPIKey(const std::string& apiKey);

  // The key of the latest start ("" before the first).
  std::string apiKey() const;
  // Whether this process's crashes are recorded.
  bool handlersInstalled() const;
  // The records of earlier runs' crashes, oldest first, as the first start found them.
  std::vector<os::CrashRecord> crashRecords() const;

  // The first line of a record: the signal's name, or the exception's type and reason.
  static std::string reason(const os::CrashRecord& record);

 private:
  struct PrivateTag {};

 public:
  explicit Brekka(PrivateTag) {}

 private:
  static std::shared_ptr<Brekka> sharedReporter();
  void installHandlers();

  mutable std::mutex mutex_;
  std::string apiKey_;
  bool started_ = false;
  bool installed_ = false;
  std::vector<os::CrashRecord> crashRecords_;
};
