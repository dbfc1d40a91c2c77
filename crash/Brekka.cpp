#include "crash/Brekka.h"

#include <csignal>

#include "foundation/ServiceCallLog.h"
#include "os/core/Log.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

constexpr const char* kDataFolder = "com.brekka.data";

// Called inside the signal handler: a fixed table, no formatting.
const char* signalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGABRT: return "SIGABRT";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
  }
}

}  // namespace

std::shared_ptr<Brekka> Brekka::sharedReporter() {
  // One reporter for the whole process, never destroyed: crash handlers may reach it at exit.
  static auto* reporter = new std::shared_ptr<Brekka>(std::make_shared<Brekka>(PrivateTag{}));
  return *reporter;
}

std::string Brekka::dataDirectory() {
  return os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), kDataFolder);
}

std::shared_ptr<Brekka> Brekka::startWithAPIKey(const std::string& apiKey) {
  auto reporter = sharedReporter();
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(reporter->mutex_);
    reporter->apiKey_ = apiKey;
    first = !reporter->started_;
    reporter->started_ = true;
  }
  if (first) reporter->installHandlers();
  ServiceCallLog::record("Brekka", "startWithAPIKey", os::Dictionary{{"apiKey", os::Value(apiKey)}});
  return reporter;
}

void Brekka::installHandlers() {
  const std::string directory = dataDirectory();
  // Taken before the hook opens the file for this run: what is there now is the earlier runs'.
  auto records = os::CrashHooks::takeRecords(directory, kHookName);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    crashRecords_ = std::move(records);
  }

  os::CrashHook hook;
  hook.onSignal = [](os::CrashRecordWriter& w) { w.write(signalName(w.signal())).write("\n").writeStack(); };
  hook.onTerminate = [](os::CrashRecordWriter& w) {
    w.write(os::CrashHooks::currentExceptionReason().c_str()).write("\n").writeStack();
  };
  hook.directory = directory;
  os::Error error;
  bool installed = os::CrashHooks::addHook(kHookName, std::move(hook), &error) &&
                   (os::CrashHooks::isInstalled() || os::CrashHooks::install(directory, &error));
  if (!installed) os::log("[Brekka] crash handlers not installed: " + error.localizedDescription());
  std::lock_guard<std::mutex> lock(mutex_);
  installed_ = installed;
}

std::string Brekka::apiKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return apiKey_;
}

bool Brekka::handlersInstalled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installed_;
}

std::vector<os::CrashRecord> Brekka::crashRecords() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return crashRecords_;
}

std::string Brekka::reason(const os::CrashRecord& record) { return record.text.substr(0, record.text.find('\n')); }
