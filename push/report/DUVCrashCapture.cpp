#include "push/report/DUVCrashCapture.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "os/core/String.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/store/PreparedFile.h"
#include "os/store/Sandbox.h"
#include "push/report/DUVReportRecords.h"
#include "push/utilities/DUVUtilities.h"

namespace {
// Read by the crash handler, so a plain atomic the client thread keeps current.
std::atomic<long> gNetworkStatus{0};
constexpr const char* kNetworkTypeMark = "networktype=";

const char* networkName(long status) {
  switch (status) {
    case 2: return "ReachableViaWiFi";
    case 3: return "ReachableViaWWAN";
    default: return "NotReachable";
  }
}

void writeCommon(os::CrashRecordWriter& w) {
  w.write(kNetworkTypeMark).write(networkName(gNetworkStatus.load())).write("\n").writeStack();
  os::PreparedFile::writeAllPrepared();
}
}  // namespace

std::string DUVCrashCapture::recordDirectory() {
  return os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "CrashRecords");
}

void DUVCrashCapture::setNetworkStatus(long status) { gNetworkStatus.store(status); }

bool DUVCrashCapture::install(const std::string& directory, os::Error* error) {
  os::CrashHook hook;
  hook.onSignal = [](os::CrashRecordWriter& w) {
    w.write("Signal ").writeDecimal(w.signal()).write(" was raised.\n");
    writeCommon(w);
  };
  hook.onTerminate = [](os::CrashRecordWriter& w) {
    w.write(os::CrashHooks::currentExceptionReason().c_str()).write("\n");
    writeCommon(w);
  };
  // Its own folder: the crash reporter may have installed the hooks first, in its folder.
  hook.directory = directory;
  if (!os::CrashHooks::addHook(kHookName, hook, error)) return false;
  return os::CrashHooks::isInstalled() || os::CrashHooks::install(directory, error);
}

std::pair<os::Dictionary, std::string> DUVCrashCapture::crashRecord(const std::string& raw, double time,
                                                                    const os::Dictionary& deviceInfo,
                                                                    const std::string& networkType) {
  // A record is bytes from a dying process: text that is not UTF-8 would make the whole crash
  // report unwritable as JSON.
  std::string text = os::repairUTF8(raw);
  auto lineEnd = text.find('\n');
  std::string message = text.substr(0, lineEnd);
  std::string stack = lineEnd == std::string::npos ? "" : text.substr(lineEnd + 1);
  std::string network = networkType;
  if (stack.rfind(kNetworkTypeMark, 0) == 0) {
    auto end = stack.find('\n');
    network = stack.substr(std::strlen(kNetworkTypeMark), end == std::string::npos ? std::string::npos
                                                                                 : end - std::strlen(kNetworkTypeMark));
    stack = end == std::string::npos ? "" : stack.substr(end + 1);
  }
  os::Array lines;
  for (std::size_t at = 0; at < stack.size();) {
    auto end = stack.find('\n', at);
    std::string line = stack.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty()) lines.push_back(os::Value(line));
    at = end == std::string::npos ? stack.size() : end + 1;
  }
  // A time no clock gave (damaged, not finite) reads as the time the record is read.
  double when = DUVPlausibleTime(time).value_or(DUVPlausibleTime(DUVGetCurrentTimestamp()).value_or(0));
  std::string version = DUVGetCurrentAPPVersion();
  os::Dictionary record{{"stacktrace", os::Value(lines)},
                        {"message", os::Value(message)},
                        {"count", os::Value(1)},
                        {"crashtime", os::Value(static_cast<long long>(when))},
                        {"versionname", os::Value(version)},
                        {"versioncode", os::Value(version)},
                        {"device_info", os::Value(deviceInfo)},
                        {"networktype", os::Value(network)}};
  return {std::move(record), std::move(stack)};
}

std::size_t DUVCrashCapture::collect(const std::string& directory, os::Array& logSet, const os::Dictionary& deviceInfo,
                                     const std::string& networkType) {
  auto records = os::CrashHooks::takeRecords(directory, kHookName);
  for (const auto& crash : records) {
    auto [record, stack] = crashRecord(crash.text, crash.time, deviceInfo, networkType);
    bool repeated = false;
    for (auto& element : logSet) {
      os::Array* pair = element.mutableArray();
      if (!pair || pair->size() < 2 || (*pair)[1] != os::Value(stack)) continue;
      os::Dictionary* kept = (*pair)[0].mutableDictionary();
      if (!kept || (*kept)["message"] != record["message"]) continue;
      long long count = (*kept)["count"].intValue();
      kept->set("count", os::Value(count < std::numeric_limits<int>::max() ? count + 1 : count));
      repeated = true;
      break;
    }
    if (!repeated) logSet.push_back(os::Value(os::Array{os::Value(record), os::Value(stack)}));
  }
  return records.size();
}
