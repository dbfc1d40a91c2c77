#include "push/report/DUVCrashCapture.h"

#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "push/utilities/DUVUtilities.h"

std::string DUVCrashCapture::recordDirectory() {
  return os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "CrashRecords");
}

bool DUVCrashCapture::install(const std::string& directory, os::Error* error) {
  os::CrashHook hook;
  hook.onSignal = [](os::CrashRecordWriter& w) {
    w.write("Signal ").writeDecimal(w.signal()).write(" was raised.\n").writeStack();
  };
  hook.onTerminate = [](os::CrashRecordWriter& w) {
    w.write(os::CrashHooks::currentExceptionReason().c_str()).write("\n").writeStack();
  };
  // Its own folder: the crash reporter may have installed the hooks first, in its folder.
  hook.directory = directory;
  if (!os::CrashHooks::addHook(kHookName, hook, error)) return false;
  return os::CrashHooks::isInstalled() || os::CrashHooks::install(directory, error);
}

std::size_t DUVCrashCapture::collect(const std::string& directory, os::Array& logSet, const os::Dictionary& deviceInfo,
                                     const std::string& networkType) {
  auto records = os::CrashHooks::takeRecords(directory, kHookName);
  for (const auto& crash : records) {
    auto lineEnd = crash.text.find('\n');
    std::string message = crash.text.substr(0, lineEnd);
    std::string stack = lineEnd == std::string::npos ? "" : crash.text.substr(lineEnd + 1);
    bool repeated = false;
    for (auto& element : logSet) {
      os::Array* pair = element.mutableArray();
      if (!pair || pair->size() < 2 || (*pair)[1] != os::Value(stack)) continue;
      os::Dictionary* record = (*pair)[0].mutableDictionary();
      if (!record || (*record)["message"] != os::Value(message)) continue;
      record->set("count", os::Value((*record)["count"].intValue() + 1));
      repeated = true;
      break;
    }
    if (repeated) continue;
    os::Array lines;
    for (std::size_t at = 0; at < stack.size();) {
      auto end = stack.find('\n', at);
      std::string line = stack.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!line.empty()) lines.push_back(os::Value(line));
      at = end == std::string::npos ? stack.size() : end + 1;
    }
    std::string version = DUVGetCurrentAPPVersion();
    os::Dictionary record{{"stacktrace", os::Value(lines)},
                          {"message", os::Value(message)},
                          {"count", os::Value(1)},
                          {"crashtime", os::Value(static_cast<long long>(crash.time))},
                          {"versionname", os::Value(version)},
                          {"versioncode", os::Value(version)},
                          {"device_info", os::Value(deviceInfo)},
                          {"networktype", os::Value(networkType)}};
    logSet.push_back(os::Value(os::Array{os::Value(record), os::Value(stack)}));
  }
  return records.size();
}
