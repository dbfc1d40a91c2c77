#include "push/report/DUVCrashCapture.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

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
constexpr const char* kVersionMark = "versionname=";
constexpr const char* kDeviceInfoMark = "device_info=";

// The run's version and device lines, ready for the crash handler. A handler may be reading the
// current one while it is replaced, so every one made stays for the life of the process (one per
// change: a start or two).
std::atomic<const std::string*> gRunFacts{nullptr};
std::mutex gRunFactsMutex;
std::vector<std::unique_ptr<const std::string>>& runFactsKept() {
  static auto* kept = new std::vector<std::unique_ptr<const std::string>>();
  return *kept;
}

const char* networkName(long status) {
  switch (status) {
    case 2: return "ReachableViaWiFi";
    case 3: return "ReachableViaWWAN";
    default: return "NotReachable";
  }
}

void writeCommon(os::CrashRecordWriter& w) {
  w.write(kNetworkTypeMark).write(networkName(gNetworkStatus.load())).write("\n");
  if (const std::string* facts = gRunFacts.load()) w.write(facts->data(), facts->size());
  w.writeStack();
  os::PreparedFile::writeAllPrepared();
}
}  // namespace

std::string DUVCrashCapture::recordDirectory() {
  return os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "CrashRecords");
}

void DUVCrashCapture::setNetworkStatus(long status) { gNetworkStatus.store(status); }

void DUVCrashCapture::setRunFacts(const std::string& version, const os::Dictionary& deviceInfo) {
  std::string line = version;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  auto json = ZRFJSONData(os::Value(deviceInfo));
  std::string facts = kVersionMark + line + "\n";
  if (json) facts += kDeviceInfoMark + std::string(json->begin(), json->end()) + "\n";
  std::lock_guard lock(gRunFactsMutex);
  if (const std::string* current = gRunFacts.load(); current && *current == facts) return;
  runFactsKept().push_back(std::make_unique<const std::string>(std::move(facts)));
  gRunFacts.store(runFactsKept().back().get());
}

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
  // The crashing run's own facts, each on its line ahead of the stack; a record without one (an
  // older run's) takes the reader's.
  std::string network = networkType;
  std::string version = DUVGetCurrentAPPVersion();
  os::Dictionary device = deviceInfo;
  for (;;) {
    auto end = stack.find('\n');
    std::string line = stack.substr(0, end);
    if (line.rfind(kNetworkTypeMark, 0) == 0) {
      network = line.substr(std::strlen(kNetworkTypeMark));
    } else if (line.rfind(kVersionMark, 0) == 0) {
      version = line.substr(std::strlen(kVersionMark));
    } else if (line.rfind(kDeviceInfoMark, 0) == 0) {
      std::string json = line.substr(std::strlen(kDeviceInfoMark));
      auto value = ZRFJSONObject(os::Data(json.begin(), json.end()));
      if (value && value->dictionary()) device = *value->dictionary();
    } else {
      break;
    }
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
  os::Dictionary record{{"stacktrace", os::Value(lines)},
                        {"message", os::Value(message)},
                        {"count", os::Value(1)},
                        {"crashtime", os::Value(static_cast<long long>(when))},
                        {"versionname", os::Value(version)},
                        {"versioncode", os::Value(version)},
                        {"device_info", os::Value(device)},
                        {"networktype", os::Value(network)}};
  return {std::move(record), std::move(stack)};
}

std::size_t DUVCrashCapture::collect(const std::string& directory, os::Array& logSet, const os::Dictionary& deviceInfo,
                                     const std::string& networkType, const std::function<bool()>& keep) {
  std::size_t bytes = 0;
  auto records = os::CrashHooks::readRecords(directory, kHookName, &bytes);
  if (records.empty()) return 0;
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
  // Out of the hook's file only once the crash set that holds them is stored: a run that ends
  // before then leaves them to the next.
  if (keep && keep()) os::CrashHooks::discardRecords(directory, kHookName, bytes);
  return records.size();
}
