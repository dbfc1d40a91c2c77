#pragma once
// The news client's own crash dump "crash.m" in the caches folder: an optional uncaught-exception
// handler writes it, and the home screen's launch timer sends it with the log file to the news
// API. Once the server has taken them, the dump is deleted and the log loses exactly the part
// that went up: lines written while the upload was on the way stay for the next one.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace os {
class Exception;
}

class VXCrashHandler {
 public:
  // The home directory's "Library/Caches/crash.m".
  static std::string filePath();
  // Adds UncaughtExceptionHandlers to the process's chain of handlers of exceptions nobody caught,
  // as the crash hook "news"; the handlers installed before it still run (start-up does not call
  // it: the crash reporter and the analytics client own that hook).
  static void setDefaultHandler();
  // Replaces any earlier dump with the reason followed by the description of the call stack.
  static void UncaughtExceptionHandlers(const os::Exception& exception);
  // The dump text: "%@%@" of the reason and the call-stack description.
  static std::string dumpText(const std::string& reason, const std::vector<std::string>& callStackSymbols);

  // Sends the dump (when one exists and is UTF-8 text) with the log as it stands now. `done`, when
  // given, runs on the main queue with whether the server took them (false also when nothing was
  // sent or no answer came).
  static void uploadDump(std::function<void(bool taken)> done = {});

  // Removes the uploaded text from the front of the log. Lines appended since stay; when the log
  // was cut from its front in between, only what is left of the uploaded part goes.
  static void removeUploadedLog(std::string_view uploaded);
};
