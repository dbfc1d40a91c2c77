// fuzz-link: push os_testing
// fuzz-runs: 2000
// The push client's cache file "ZURAR", as any bytes on disk may hold it, read by the report
// scheduler at start: whatever it restores, the times it writes back are absent (0) or seconds of
// one to ten digits, its pending records are record dictionaries, and a packet made of them is
// JSON the service can read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/runtime/Clock.h"
#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/testing/TestSandbox.h"
#include "push/network/DUVHttpSession.h"
#include "push/report/DUVReportRequest.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUtilities.h"

namespace {

std::string archive(const os::Dictionary& entries) {
  auto data = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(entries)));
  return data ? std::string(data->begin(), data->end()) : std::string();
}

std::vector<fuzz::Seed> seeds() {
  os::Dictionary record{{"type", os::Value("msg_status")}, {"itime", os::Value(1700000000)}};
  os::Dictionary saved{
      {"__DUVStart_time", os::Value(1700000000)},
      {"__DUVLeft_time", os::Value(1700000100.5)},
      {"__DUVCheckTime", os::Value(1699990000)},
      {"__DUVCrashTimer", os::Value(1e300)},
      {"__DUVLocationTimer", os::Value(-5)},
      {"__DUVHistroyCache",
       os::Value(os::Dictionary{{"cacheObjects", os::Value(os::Dictionary{{"7.0", os::Value(record)}})},
                                {"sendingCache", os::Value(os::Dictionary{{"8.0", os::Value(record)}})}})},
      {"__DUVLocationLog", os::Value(os::Dictionary{{"gpsInfo", os::Value(os::Array{os::Value(os::Dictionary{
                                                                   {"lat", os::Value(39.9)}})})}})},
      {"__DUVCrashLog", os::Value(os::Array{os::Value(os::Array{os::Value(os::Dictionary{{"message", os::Value("m")}}),
                                                                os::Value("0x1\n")})})},
      {"__ZRFPFLastFlow", os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}})})},
      {"zurar_user_default_badge_number", os::Value(3)},
  };
  return {{"saved", archive(saved)}, {"empty", archive({})}, {"garbage", "bplist00 not really"}};
}
FUZZ_SEEDS(seeds);

struct Run {
  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  std::string path = DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR");
};

bool plausibleOrAbsent(const os::Value& time) {
  if (time.isNull()) return true;
  double t = time.doubleValue();
  return time.isNumber() && (t == 0 || (t >= 1 && t < 1e10));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Run run;
  os::FileManager::defaultManager().writeData(os::Data(data, data + size), run.path, {});
  auto files = DUVFileCache::startCacheFile("ZURAR");
  // A file it could not read was moved aside; one run's aside file is of no use to the next.
  os::FileManager::defaultManager().removeItemAtPath(run.path + ".refused");
  DUVHttpSession::Environment environment;
  environment.fileCache = files;
  auto session = DUVHttpSession::create(environment);
  session->pageFlowController()->trySetupSession();
  fuzz::check(session->startTime() >= 1 && session->startTime() < 1e10, "start time out of range");
  fuzz::check(session->closeTime() == 0 || (session->closeTime() >= 1 && session->closeTime() < 1e10),
              "close time out of range");
  session->prepareActive(os::Clock::now());

  DUVReportRequest request(1, session->reportCache());
  request.setIdentity({1, std::string("pw"), "abc123"});
  for (int packets = 0; packets < 50; ++packets) {
    auto packet = request.packetData();
    if (!packet) break;
    auto envelope = ZRFJSONObject(*packet);
    fuzz::check(envelope && (*envelope)["content"].array() && !(*envelope)["content"].array()->empty(),
                "a packet the service cannot read");
    if (!request.isSubpackage()) break;
  }

  session->reportInactive(os::Clock::now());
  for (const char* key : {"__DUVStart_time", "__DUVLeft_time", "__DUVCheckTime", "__DUVCrashTimer", "__DUVLocationTimer"})
    fuzz::check(plausibleOrAbsent(files->objectForKey(key)), key);
  return 0;
}
