// fuzz-link: push os_testing
// fuzz-runs: 2000
// Crash record files of the push client's crash hook, as any bytes on disk may hold them: every
// record read becomes a crash record with valid UTF-8 text and a crash time of ten digits at most
// that the report's JSON writer takes; a file read once is not read again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/core/String.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVUtilities.h"

namespace {

std::string record(const std::string& header, const std::string& text) {
  return "CRASHRECORD v1 " + header + " length=" + std::to_string(text.size()) + "\n" + text + "\n";
}

std::vector<fuzz::Seed> seeds() {
  return {{"signal", record("signal=11 code=1 address=0x0 time=1700000000.000001",
                            "Signal 11 was raised.\nnetworktype=ReachableViaWiFi\n0x1\n0x2\n")},
          {"exception", record("signal=0 code=0 address=0x0 time=1700000001.5",
                               "std::runtime_error: boom\nnetworktype=NotReachable\n0x1\n")},
          {"two", record("signal=6 code=0 address=0x0 time=1700000002.1", "Signal 6 was raised.\n0x9\n") +
                      record("signal=6 code=0 address=0x0 time=1.9e999", "Signal 6 was raised.\n0x9\n")},
          {"cut", "CRASHRECORD v1 signal=11 code=1 address=0x0 time=1700000000.2 length=400\nSignal 11 wa"}};
}
FUZZ_SEEDS(seeds);

const std::string& directory() {
  static os::TestSandbox sandbox;
  static const std::string folder = [] {
    std::string path = os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "CrashRecords");
    os::FileManager::defaultManager().createDirectoryAtPath(path, true);
    return path;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& folder = directory();
  std::string path = os::CrashHooks::recordPath(folder, DUVCrashCapture::kHookName);
  os::FileManager::defaultManager().writeData(os::Data(data, data + size), path, {});
  os::Array logSet, taken;
  auto kept = [] { return true; };
  std::size_t read = DUVCrashCapture::collect(folder, logSet, taken, {{"type", os::Value("device_info")}}, "NotReachable", kept);
  fuzz::check(logSet.size() <= read, "more crash records than records read");
  for (const auto& element : logSet) {
    const os::Value& crash = element.at(0);
    fuzz::check(crash["message"].string() && os::isValidUTF8(*crash["message"].string()), "message not UTF-8");
    fuzz::check(element.at(1).string() && os::isValidUTF8(*element.at(1).string()), "stack not UTF-8");
    long long time = crash["crashtime"].intValue();
    fuzz::check(time >= 1 && time <= 9999999999LL, "crash time out of range");
    fuzz::check(crash["count"].intValue() >= 1, "count below one");
    fuzz::check(ZRFJSONData(os::Value(os::Dictionary{{"crashlogs", os::Value(os::Array{crash})}})).has_value(),
                "crash record not writable as JSON");
  }
  fuzz::check(DUVCrashCapture::collect(folder, logSet, taken, {}, "", kept) == 0, "a record was handed over twice");
  return 0;
}
