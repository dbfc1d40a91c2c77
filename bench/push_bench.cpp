// Pushed messages (1,000, 4x and 16x that) through the whole client (frame cutting, decoding, the
// duplicate filter, the receipt) against the baseline of the same frames cut by the bare platform
// socket, both from the local push service on loopback. Half of the messages repeat an earlier id.
// Counters: messages per second and heap bytes kept per message (flat: the filter remembers 21
// ids).
//
// The crash-time snapshot of the client's file cache with a full report cache (about 50 MiB of
// pending records): one burst of changes (a record taken into a report, the time moved) prepared
// in pieces, against the baseline of archiving the whole cache again as one keyed archive.
//
// The crash-time snapshot with 20,000 pending records as the client makes them, prepared once and
// then burst by burst: counters for the bytes of the prepared file and the heap that capture keeps
// for it, against the baseline of the single keyed archive of the same file cache (its bytes, held
// once prepared).
//
// The report cache filled to its limit record by record (200 records of about 265 KiB, the last
// ones trimmed), with the size check after every add, against the baseline of archiving the
// whole cache after every add to learn its length. Counter: the records kept (equal in both).
//
// A report cache at its bound, adds of records outweighing ten of the oldest (4, 16 and 64 KiB
// against 1 KiB ones), against the baseline of the same bytes in records like the oldest.
//
// A flood of message statuses while the report service refuses every upload: each notification
// adds its record, and its report takes the two oldest pending records in flight and gets them
// back. On a report cache standing at a file share of 256 KiB, 1 MiB and 4 MiB, against the
// baseline of the same notifications on a cache of as many records well under its share.
// Counters: the whole-cache archives per thousand notifications, and the records kept.
//
// One report packed beside thousands of pending records, and thousands of records in flight
// moved back when the application becomes active, each record leaving its area on its own,
// against the baseline of visiting every record once and emptying the area at once.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "bench/ProcessCpu.h"
#include "os/net/NetworkReachability.h"
#include "os/crypto/Digest.h"
#include "os/net/Socket.h"
#include "os/runtime/CrashHooks.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/PropertyList.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/TestSandbox.h"
#include "push/model/DUVClient.h"
#include "push/model/DUVNotifications.h"
#include "push/network/DUVSession.h"
#include "push/report/DUVCrashCapture.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRequest.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUserDefaults.h"
#include "tools/pushd/server/PushServer.h"

namespace {

// Messages pushed in a run, the case's argument: 1,000, 4x and 16x that.
void messageCounts(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 4000, 16000}) b->Arg(n);
}
const std::string kContent = R"({"title":"要闻","message":"军情速递：今日头条新闻","extras":{"id":"42"}})";

std::size_t heapInUse() { return mallinfo2().uordblks; }

bool runUntil(const std::function<bool()>& condition) { return os::RunLoop::current()->runUntil(condition, 30); }

void PushThroughTheClient(benchmark::State& state) {
  const int kMessages = static_cast<int>(state.range(0));
  auto fake = std::make_shared<os::testing::FakeReachabilityProvider>();
  fake->setDefaultFlags(os::kReachabilityFlagsReachable);
  os::ReachabilityProvider::setShared(fake);
  os::TestSandbox sandbox;
  auto server = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  std::string config = sandbox.root() + "/PushConfig.plist";
  os::PropertyList::writeFile(os::Value(os::Dictionary{{"APP_KEY", os::Value("abc123")},
                                                       {"SIS_PORT", os::Value(server->lookupPort())},
                                                       {"SIS_BACKUP_PORT", os::Value(server->lookupPort())}}),
                              config, os::PropertyListFormat::XML);
  auto client = std::make_shared<DUVClient>();
  client->setBundleIdentifier("com.example.newsreader");
  client->setPushConfigUrl(config);
  client->setup();
  client->updateDeviceToken({0xbe, 0xef});
  if (!runUntil([&] { return client->clientSession()->isLogin(); })) state.SkipWithError("no login");
  int delivered = 0;
  auto token = os::NotificationCenter::defaultCenter().addObserver(kDUVNetworkDidReceiveMessageNotification, nullptr,
                                                                   [&](const os::Notification&) { ++delivered; });
  std::uint32_t nextId = 1;
  std::size_t heapBefore = heapInUse();
  for (auto _ : state) {
    int target = delivered + kMessages / 2;
    for (int i = 0; i < kMessages; ++i) server->pushMessage(kContent, i % 2 ? nextId - 1 : nextId++);
    if (!runUntil([&] { return delivered >= target; })) state.SkipWithError("messages lost");
  }
  state.counters["messages_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kMessages, benchmark::Counter::kIsRate);
  state.counters["heap_bytes_per_message"] =
      static_cast<double>(heapInUse() - std::min(heapInUse(), heapBefore)) / (static_cast<double>(state.iterations()) * kMessages);
  state.counters["delivered_per_unique"] = static_cast<double>(delivered) / (static_cast<double>(state.iterations()) * kMessages / 2);
  os::NotificationCenter::defaultCenter().removeObserver(token);
  client->close();
  os::ReachabilityProvider::setShared(nullptr);
}
BENCHMARK(PushThroughTheClient)->Apply(messageCounts)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same frames from the same service, cut by their length prefix straight off the
// bare socket, after a register and login written by hand.
void BaselineBareSocket(benchmark::State& state) {
  const int kMessages = static_cast<int>(state.range(0));
  auto server = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  auto socket = os::TcpSocket::create();
  bool connected = false;
  os::Data pending;
  std::vector<os::Data> frames;
  socket->schedule(os::RunLoop::current(), {[&](int error) { connected = error == 0; },
                                            [&] {
                                              std::uint8_t buffer[16384];
                                              long n;
                                              while ((n = socket->receive(buffer, sizeof buffer)) > 0)
                                                pending.insert(pending.end(), buffer, buffer + n);
                                              while (pending.size() >= 2) {
                                                std::size_t len = (std::size_t{pending[0]} << 8) | pending[1];
                                                if (len < 2 || pending.size() < len) break;
                                                frames.emplace_back(pending.begin(), pending.begin() + static_cast<long>(len));
                                                pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
                                              }
                                            },
                                            nullptr});
  socket->connect(*os::makeIPv4Address("127.0.0.1", server->corePort()));
  runUntil([&] { return connected; });
  auto text = [](os::Data& f, const std::string& s) {
    f.push_back(static_cast<std::uint8_t>(s.size() >> 8));
    f.push_back(static_cast<std::uint8_t>(s.size()));
    f.insert(f.end(), s.begin(), s.end());
  };
  auto send = [&](os::Data frame) {
    frame[0] = static_cast<std::uint8_t>(frame.size() >> 8);
    frame[1] = static_cast<std::uint8_t>(frame.size());
    socket->send(frame.data(), frame.size());
  };
  os::Data registration{0, 0, 8, 0, 0, 1, 0, 0, 0, 0};
  text(registration, "udid$$ $$bundle$$abc123");
  text(registration, "1");
  text(registration, "6.1$$Phone$$ $$ $$c$$1.8.1");
  text(registration, " ");
  registration.insert(registration.end(), {0, 0, 1});
  send(registration);
  runUntil([&] { return frames.size() == 1; });
  const os::Data& answer = frames[0];  // header, status, uid, password
  os::Data login{0, 0, 10, 1, 0, 2, 0, 0, 0, 0};
  login.insert(login.end(), answer.begin() + 8, answer.begin() + 12);
  login.insert(login.end(), {0x69, 0, 0, 0});
  std::size_t passwordLength = (std::size_t{answer[12]} << 8) | answer[13];
  text(login, os::md5Hex(std::string(answer.begin() + 14, answer.begin() + 14 + static_cast<long>(passwordLength))));
  login.insert(login.end(), {0, 0, 0, 1});
  text(login, "abc123");
  login.push_back(1);
  send(login);
  runUntil([&] { return frames.size() == 2; });
  std::uint32_t nextId = 1;
  for (auto _ : state) {
    std::size_t target = frames.size() + kMessages;
    for (int i = 0; i < kMessages; ++i) server->pushMessage(kContent, i % 2 ? nextId - 1 : nextId++);
    if (!runUntil([&] { return frames.size() >= target; })) state.SkipWithError("frames lost");
    frames.resize(2);
  }
  state.counters["messages_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kMessages, benchmark::Counter::kIsRate);
  socket->close();
}
BENCHMARK(BaselineBareSocket)->Apply(messageCounts)->Unit(benchmark::kMillisecond)->UseRealTime();

// A report cache at its bound: records of about 1 KiB up to 50 MiB.
std::shared_ptr<DUVReportCache> fullReportCache() {
  os::Dictionary pending;
  const std::string pad(900, 'x');
  for (long long i = 0; i < static_cast<long long>(DUVReportCache::kMaximumArchiveBytes / 1024); ++i)
    pending.set(std::to_string(1000000 + i) + ".0",
                os::Value(os::Dictionary{{"type", os::Value("msg_status")},
                                         {"itime", os::Value(1700000000 + i)},
                                         {"result", os::Value(2001)},
                                         {"msg_id", os::Value(std::to_string(i))},
                                         {"pad", os::Value(pad)}}));
  return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}));
}

// One burst: the oldest pending record leaves for a report and the session's time moves on; the
// entries going inactive would write.
os::Dictionary burst(DUVReportCache& cache, double& time) {
  if (!cache.cacheKeys().empty()) cache.removeCacheObjectForKey(cache.cacheKeys().front());
  time += 1;
  return os::Dictionary{{"__DUVHistroyCache", cache.archivedValue()}, {"__DUVLeft_time", os::Value(time)}};
}

void CrashSnapshotOfAFullReportCache(benchmark::State& state) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  auto cache = fullReportCache();
  double time = 1.7e9;
  files->prepareCrashSnapshot(burst(*cache, time));
  std::size_t archived = 0;
  for (auto _ : state) {
    files->prepareCrashSnapshot(burst(*cache, time));
    archived += files->lastSnapshotPiecesArchived();
  }
  state.counters["pieces_archived_per_burst"] = static_cast<double>(archived) / static_cast<double>(state.iterations());
}
BENCHMARK(CrashSnapshotOfAFullReportCache)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same bursts, each archiving the whole file cache as one keyed archive.
void BaselineWholeArchiveOfAFullReportCache(benchmark::State& state) {
  auto cache = fullReportCache();
  double time = 1.7e9;
  for (auto _ : state) {
    os::Dictionary contents = burst(*cache, time);
    auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(std::move(contents))));
    if (!archive) state.SkipWithError("not archived");
    benchmark::DoNotOptimize(archive);
  }
}
BENCHMARK(BaselineWholeArchiveOfAFullReportCache)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr long long kSnapshotRecords = 20000;

// Message-status records under the keys the client gives them.
std::shared_ptr<DUVReportCache> clientReportCache(long long records = kSnapshotRecords) {
  os::Dictionary pending;
  for (long long i = 0; i < records; ++i)
    pending.set(std::to_string(9007199254740993ull + static_cast<unsigned long long>(i / 3)) + "." + std::to_string(i % 3),
                os::Value(os::Dictionary{{"itime", os::Value(1700000000 + i)},
                                         {"type", os::Value("msg_status")},
                                         {"result", os::Value(2001)},
                                         {"msg_id", os::Value(std::to_string(400000000 + i))}}));
  return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}));
}

void CrashSnapshotOf20000Records(benchmark::State& state) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  auto cache = clientReportCache();
  double time = 1.7e9;
  os::Dictionary entries = burst(*cache, time);
  std::size_t heapBefore = heapInUse();
  files->prepareCrashSnapshot(entries);
  const std::size_t resident = heapInUse() - std::min(heapInUse(), heapBefore);
  // The prepared file as a crash writes it: from a child that then ends.
  if (pid_t pid = ::fork(); pid == 0) {
    os::PreparedFile::writeAllPrepared();
    ::_exit(0);
  } else {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  auto written = os::FileManager::defaultManager().contentsAtPath(files->fileNameForKey("ZURAR"));
  if (!written) state.SkipWithError("no snapshot written");
  for (auto _ : state) files->prepareCrashSnapshot(burst(*cache, time));
  state.counters["file_bytes"] = written ? static_cast<double>(written->size()) : 0;
  state.counters["resident_bytes"] = static_cast<double>(resident);
}
// One run: each run of the function takes a prepared-file slot of the process.
BENCHMARK(CrashSnapshotOf20000Records)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

void BaselineSingleArchiveOf20000Records(benchmark::State& state) {
  auto cache = clientReportCache();
  double time = 1.7e9;
  os::Dictionary entries = burst(*cache, time);
  std::size_t heapBefore = heapInUse();
  std::shared_ptr<const os::Data> prepared;
  if (auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(entries))))
    prepared = std::make_shared<const os::Data>(std::move(*archive));
  const std::size_t resident = heapInUse() - std::min(heapInUse(), heapBefore);
  if (!prepared) state.SkipWithError("not archived");
  for (auto _ : state) {
    auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(burst(*cache, time))));
    if (!archive) state.SkipWithError("not archived");
    benchmark::DoNotOptimize(archive);
  }
  state.counters["file_bytes"] = prepared ? static_cast<double>(prepared->size()) : 0;
  state.counters["resident_bytes"] = static_cast<double>(resident);
}
// Each run archives the whole cache anew, so a few runs give its time as well as many.
BENCHMARK(BaselineSingleArchiveOf20000Records)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

constexpr int kFillRecords = 200;

os::Dictionary fillRecord(int n) {
  // Text of its own in each record: equal texts would be archived once.
  std::string pad(265 * 1024, 'x');
  std::string mark = std::to_string(n) + "/";
  for (std::size_t i = 0; i + mark.size() <= pad.size(); i += 1024) pad.replace(i, mark.size(), mark);
  return os::Dictionary{{"type", os::Value("msg_status")}, {"itime", os::Value(1700000000 + n)}, {"pad", os::Value(pad)}};
}

void FillReportCacheToItsLimit(benchmark::State& state) {
  std::vector<os::Dictionary> records;
  for (int n = 0; n < kFillRecords; ++n) records.push_back(fillRecord(n));
  std::size_t kept = 0;
  for (auto _ : state) {
    DUVReportCache cache;
    for (int n = 0; n < kFillRecords; ++n) cache.addCacheObject(records[static_cast<std::size_t>(n)], std::to_string(n) + ".0");
    kept = cache.count();
  }
  state.counters["records_kept"] = static_cast<double>(kept);
}
BENCHMARK(FillReportCacheToItsLimit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Baseline: the same adds, each followed by archiving the whole cache and trimming the oldest as
// that length says.
void BaselineWholeArchivePerAdd(benchmark::State& state) {
  std::vector<os::Dictionary> records;
  for (int n = 0; n < kFillRecords; ++n) records.push_back(fillRecord(n));
  std::size_t kept = 0;
  for (auto _ : state) {
    DUVReportCache cache;
    for (int n = 0; n < kFillRecords; ++n) {
      cache.addCacheObject(records[static_cast<std::size_t>(n)], std::to_string(n) + ".0");
      auto archive = os::PropertyList::write(cache.archivedValue(), os::PropertyListFormat::Binary);
      if (!archive) state.SkipWithError("not archived");
      if (archive && archive->size() > DUVReportCache::kMaximumArchiveBytes)
        for (std::size_t i = 0, drop = cache.count() < 100 ? 1 : DUVReportCache::kTrimRun; i < drop; ++i)
          cache.removeCacheObjectForKey(cache.cacheKeys().front());
    }
    kept = cache.count();
  }
  state.counters["records_kept"] = static_cast<double>(kept);
}
BENCHMARK(BaselineWholeArchivePerAdd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// ---- Records dropped one by one ----
// One report packed beside 2,000, 8,000 and 32,000 pending records: every one is taken in, all
// but the newest that fit the 10 KB cap leave the cache one by one, and the rest leave as the
// request is made. And the application becoming active with as many records in flight: each goes
// back to the pending records and leaves the in-flight area, one by one. Each iteration first
// takes a cache made earlier from its archived form, outside the time, as the last one is released. Baselines: each record visited
// once and the area emptied at once, the work no way of dropping them can skip.

// Caches made ahead from one archived form, as many as make the one an iteration takes as old
// whatever its size: 64,000 records made after it. A cache taken just after it was made would
// still sit in the processor's caches when it is small, which would flatter the small sizes.
class CachesMadeAhead {
 public:
  CachesMadeAhead(os::Value archived, long long records) : archived_(std::move(archived)) {
    caches_.resize(static_cast<std::size_t>(64000 / records + 1));
    for (auto& cache : caches_) cache = DUVReportCache::fromArchivedValue(archived_);
  }
  // The oldest; a new one takes its place.
  std::shared_ptr<DUVReportCache> take() {
    auto cache = std::move(caches_[next_]);
    caches_[next_] = DUVReportCache::fromArchivedValue(archived_);
    next_ = (next_ + 1) % caches_.size();
    return cache;
  }

 private:
  os::Value archived_;
  std::vector<std::shared_ptr<DUVReportCache>> caches_;
  std::size_t next_ = 0;
};

os::Value inFlightArchive(long long records) {
  os::Value pending = clientReportCache(records)->archivedValue();
  return os::Value(os::Dictionary{{"sendingCache", pending["cacheObjects"]}});
}

void PackOneReportBesidePendingRecords(benchmark::State& state) {
  CachesMadeAhead made(clientReportCache(state.range(0))->archivedValue(), state.range(0));
  std::shared_ptr<DUVReportCache> cache;
  for (auto _ : state) {
    state.PauseTiming();
    cache = made.take();  // the last one released here too
    state.ResumeTiming();
    DUVReportRequest request(4, cache);
    request.setIdentity({1, std::nullopt, "abc123"});
    request.setContent(os::Dictionary{{"itime", os::Value(1800000000)}, {"type", os::Value("msg_status")}});
    if (!request.generateReportRequest("http://127.0.0.1:1/v2/report") || cache->count() != 0)
      state.SkipWithError("not packed");
  }
}
BENCHMARK(PackOneReportBesidePendingRecords)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineVisitPendingRecords(benchmark::State& state) {
  CachesMadeAhead made(clientReportCache(state.range(0))->archivedValue(), state.range(0));
  std::shared_ptr<DUVReportCache> cache;
  for (auto _ : state) {
    state.PauseTiming();
    cache = made.take();  // the last one released here too
    state.ResumeTiming();
    std::size_t visited = 0;
    cache->enumerate([&](const std::string&, const os::Value& record) {
      visited += record.count();
      return true;
    });
    cache->removeAllObjects();
    benchmark::DoNotOptimize(visited);
  }
}
BENCHMARK(BaselineVisitPendingRecords)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void ResetCacheOfRecordsInFlight(benchmark::State& state) {
  CachesMadeAhead made(inFlightArchive(state.range(0)), state.range(0));
  std::shared_ptr<DUVReportCache> cache;
  for (auto _ : state) {
    state.PauseTiming();
    cache = made.take();  // the last one released here too
    state.ResumeTiming();
    cache->resetCache();
    if (cache->count() != static_cast<std::size_t>(state.range(0)) || !cache->sendingPackageCache().empty())
      state.SkipWithError("not moved back");
  }
}
BENCHMARK(ResetCacheOfRecordsInFlight)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineCopyRecordsInFlight(benchmark::State& state) {
  CachesMadeAhead made(inFlightArchive(state.range(0)), state.range(0));
  std::shared_ptr<DUVReportCache> cache;
  for (auto _ : state) {
    state.PauseTiming();
    cache = made.take();  // the last one released here too
    state.ResumeTiming();
    os::Dictionary pending;
    for (const auto& [key, record] : cache->sendingPackageCache()) pending.set(key, record);
    benchmark::DoNotOptimize(pending);
  }
}
BENCHMARK(BaselineCopyRecordsInFlight)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Crash records read at start ----
// The crash records earlier runs left, read into the crash set at start (collect: counted, the
// set stored, the records discarded) and let go once the set is stored (release: every record
// checked against the stored marks, then discarded); 2,000, 8,000 and 32,000 distinct crashes
// (32,000 is about what the hook's 4 MiB file holds). Each iteration first writes the hook's file
// as the crashes left it. Baseline: the same file written, read and discarded, the file work
// both do, with no record counted or checked.

// The hook's file with `count` distinct crashes, as the hook writes them.
os::Data crashRecordFile(int count) {
  std::string file;
  char line[160];
  for (int i = 0; i < count; ++i) {
    char text[64];
    int length = std::snprintf(text, sizeof text, "message=Signal 11 was raised.\n0x%08x\n", 0x10000000 + i);
    int header = std::snprintf(line, sizeof line, "CRASHRECORD v1 signal=11 code=1 address=0x0 time=%d.%06d length=%d\n",
                               1700000000 + i / 1000000, i % 1000000, length);
    file.append(line, static_cast<std::size_t>(header)).append(text, static_cast<std::size_t>(length)).append("\n");
  }
  return os::dataFromString(file);
}

struct CrashRecordFolder {
  explicit CrashRecordFolder(int count) : bytes(crashRecordFile(count)) {
    os::FileManager::defaultManager().createDirectoryAtPath(directory, true);
  }
  bool refill() const { return os::FileManager::defaultManager().writeData(bytes, path, {.atomic = false}); }
  os::TestSandbox sandbox;
  const std::string directory = sandbox.root() + "/crash-records";
  const std::string path = os::CrashHooks::recordPath(directory, DUVCrashCapture::kHookName);
  const os::Data bytes;
};

void CollectCrashRecords(benchmark::State& state) {
  CrashRecordFolder folder(static_cast<int>(state.range(0)));
  std::size_t counted = 0;
  for (auto _ : state) {
    if (!folder.refill()) state.SkipWithError("hook file not written");
    os::Array logSet, taken;
    counted = DUVCrashCapture::collect(folder.directory, logSet, taken, {}, "NotReachable", [] { return true; });
    if (counted != static_cast<std::size_t>(state.range(0)) || !taken.empty()) state.SkipWithError("records not all taken");
  }
  state.counters["records"] = static_cast<double>(counted);
}
BENCHMARK(CollectCrashRecords)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReleaseCrashRecords(benchmark::State& state) {
  CrashRecordFolder folder(static_cast<int>(state.range(0)));
  // The marks of a reading whose set was not stored yet.
  os::Array logSet, marks;
  if (!folder.refill()) state.SkipWithError("hook file not written");
  DUVCrashCapture::collect(folder.directory, logSet, marks, {}, "NotReachable", [] { return false; });
  for (auto _ : state) {
    if (!folder.refill()) state.SkipWithError("hook file not written");
    os::Array taken = marks;
    if (!DUVCrashCapture::release(folder.directory, taken)) state.SkipWithError("records not released");
  }
  state.counters["records"] = static_cast<double>(marks.size());
}
BENCHMARK(ReleaseCrashRecords)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineReadAndDiscardCrashRecords(benchmark::State& state) {
  CrashRecordFolder folder(static_cast<int>(state.range(0)));
  std::size_t read = 0;
  for (auto _ : state) {
    if (!folder.refill()) state.SkipWithError("hook file not written");
    std::size_t bytes = 0;
    read = os::CrashHooks::readRecords(folder.directory, DUVCrashCapture::kHookName, &bytes).size();
    if (!os::CrashHooks::discardRecords(folder.directory, DUVCrashCapture::kHookName, bytes)) state.SkipWithError("not discarded");
  }
  state.counters["records"] = static_cast<double>(read);
}
BENCHMARK(BaselineReadAndDiscardCrashRecords)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One save of the client's file cache holding a report cache of 20,000, 40,000, 80,000 and
// 320,000 message-status records (1x, 2x, 4x, 16x) under the keys the client gives them, and of
// 600,000, about what the size check keeps at its limit (it must fit well inside the reader's 10 s
// to leave), against the baseline of writing the same file's bytes, already
// made, as a save writes them (atomically); and reading the 80,000- and 600,000-record files back
// against reading their bytes alone. Counter: the file's bytes.
void fillFileCache(DUVFileCache& files, long long records) {
  files.setObject(clientReportCache(records)->archivedValue(), "__DUVHistroyCache");
  files.setObject(os::Value(1.7e9), "__DUVLeft_time");
}

void SynchronizeFileCache(benchmark::State& state) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  fillFileCache(*files, state.range(0));
  double left = 1.7e9;
  for (auto _ : state) {
    // A save of what the file holds already writes nothing: each one has the time moved first.
    files->setObject(os::Value(left += 1), "__DUVLeft_time");
    if (!files->synchronize()) state.SkipWithError("not saved");
  }
  auto written = os::FileManager::defaultManager().contentsAtPath(files->fileNameForKey("ZURAR"));
  state.counters["file_bytes"] = written ? static_cast<double>(written->size()) : 0;
}
BENCHMARK(SynchronizeFileCache)->Arg(20000)->Arg(40000)->Arg(80000)->Arg(320000)->Arg(600000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineWriteSavedBytes(benchmark::State& state) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  fillFileCache(*files, state.range(0));
  const std::string path = files->fileNameForKey("ZURAR");
  auto written = files->synchronize() ? os::FileManager::defaultManager().contentsAtPath(path) : std::nullopt;
  if (!written) state.SkipWithError("not saved");
  for (auto _ : state)
    if (written && !os::FileManager::defaultManager().writeData(*written, path, {.atomic = true, .mode = 0600}))
      state.SkipWithError("not written");
  state.counters["file_bytes"] = written ? static_cast<double>(written->size()) : 0;
}
BENCHMARK(BaselineWriteSavedBytes)->Arg(20000)->Arg(40000)->Arg(80000)->Arg(320000)->Arg(600000)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadBackFileCache(benchmark::State& state) {
  os::TestSandbox sandbox;
  {
    auto files = DUVFileCache::startCacheFile("ZURAR");
    fillFileCache(*files, state.range(0));
    if (!files->synchronize()) state.SkipWithError("not saved");
  }
  for (auto _ : state) {
    auto files = DUVFileCache::startCacheFile("ZURAR");
    if (!files->hasObjectForKey("__DUVHistroyCache")) state.SkipWithError("not read back");
  }
}
BENCHMARK(ReadBackFileCache)->Arg(80000)->Arg(600000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BaselineReadSavedBytes(benchmark::State& state) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  fillFileCache(*files, state.range(0));
  const std::string path = files->fileNameForKey("ZURAR");
  if (!files->synchronize()) state.SkipWithError("not saved");
  for (auto _ : state) {
    auto bytes = os::FileManager::defaultManager().contentsAtPath(path);
    if (!bytes) state.SkipWithError("not read");
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BaselineReadSavedBytes)->Arg(80000)->Arg(600000)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Adds at the bound ----
// A report cache standing at its 50 MiB bound with records of 1 KiB, then adds of records of 4,
// 16 and 64 KiB, each outweighing a run of ten of the oldest: every add keeps the cache under its
// limit, trimming as many as it needs. Baseline: the same bytes added in records of 1 KiB, like
// the oldest (4, 16 and 64 of them), each trim a run of ten. Counter: how far the archive stands
// past the limit after the adds (0 when within it).

os::Dictionary atBoundRecord(long long n, std::size_t size) {
  std::string pad(size, 'b');
  std::string mark = std::to_string(n) + "/";
  for (std::size_t i = 0; i + mark.size() <= pad.size(); i += 512) pad.replace(i, mark.size(), mark);
  return os::Dictionary{{"type", os::Value("msg_status")}, {"itime", os::Value(1700000000 + n)}, {"pad", os::Value(pad)}};
}

std::string atBoundKey(long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n)) + ".0"; }

// A cache of 1 KiB records a few KiB under its limit, made from its archived form.
std::shared_ptr<DUVReportCache> cacheAtTheBound(long long& next) {
  const long long records = static_cast<long long>(DUVReportCache::kMaximumArchiveBytes / (1024 + 100));
  os::Dictionary pending;
  for (next = 0; next < records; ++next) pending.set(atBoundKey(next), os::Value(atBoundRecord(next, 1024)));
  auto archived = [&] { return os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}); };
  auto length = os::PropertyList::write(archived(), os::PropertyListFormat::Binary)->size();
  const std::size_t target = DUVReportCache::kMaximumArchiveBytes - 4096;
  if (length < target) pending.set(atBoundKey(next - 1), os::Value(atBoundRecord(next - 1, 1024 + target - length)));
  return DUVReportCache::fromArchivedValue(archived());
}

std::int64_t pastTheLimit(const DUVReportCache& cache) {
  auto archive = os::PropertyList::write(cache.archivedValue(), os::PropertyListFormat::Binary);
  return archive ? std::max<std::int64_t>(static_cast<std::int64_t>(archive->size()) -
                                              static_cast<std::int64_t>(DUVReportCache::kMaximumArchiveBytes), 0)
                 : -1;
}

void AddOutweighingRecordsAtTheBound(benchmark::State& state) {
  long long next = 0;
  auto cache = cacheAtTheBound(next);
  const std::size_t size = 4096 * static_cast<std::size_t>(state.range(0));
  std::vector<os::Dictionary> records;
  for (int i = 0; i < 64; ++i) records.push_back(atBoundRecord(next + i, size));
  std::size_t i = 0;
  for (auto _ : state) {
    cache->addCacheObject(records[i % records.size()], atBoundKey(next++));
    ++i;
  }
  state.counters["past_limit_bytes"] = static_cast<double>(pastTheLimit(*cache));
}
BENCHMARK(AddOutweighingRecordsAtTheBound)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void BaselineAddEqualRecordsAtTheBound(benchmark::State& state) {
  long long next = 0;
  auto cache = cacheAtTheBound(next);
  const long long perAdd = 4 * state.range(0);
  std::vector<os::Dictionary> records;
  for (int i = 0; i < 256; ++i) records.push_back(atBoundRecord(next + i, 1024));
  std::size_t i = 0;
  for (auto _ : state) {
    for (long long k = 0; k < perAdd; ++k, ++i) cache->addCacheObject(records[i % records.size()], atBoundKey(next++));
  }
  state.counters["past_limit_bytes"] = static_cast<double>(pastTheLimit(*cache));
}
// Each run makes 4 adds per 4 KiB of the case's record, so fewer runs than the case's take in as
// many adds at the bound.
BENCHMARK(BaselineAddEqualRecordsAtTheBound)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// ---- A flood at the file share ----
// Shares of 256 KiB, 1 MiB and 4 MiB, where the file share binds, and the default share of
// 128 MiB, where the size check's 50 MiB limit binds first (some 600,000 statuses). Baseline: the
// same flood on a cache of an eighth fewer records restored from its archived form, under both
// bounds. Counters: whole archives per 1,000 notifications and the records kept.

os::Dictionary floodRecord(long long n) {
  return os::Dictionary{{"itime", os::Value(1700000000 + n)},
                        {"type", os::Value("msg_status")},
                        {"result", os::Value(2001)},
                        {"msg_id", os::Value(std::to_string(400000000 + n))}};
}

constexpr std::uint64_t kFloodShare = std::uint64_t{256} << 10;

// A cache with a share of kFloodShare times `scale`, filled until the oldest go: at its share.
std::shared_ptr<DUVReportCache> cacheAtItsShare(long long scale, long long& next) {
  DUVReportCache::FileShare share;
  share.bytes = kFloodShare * static_cast<std::uint64_t>(scale);
  auto cache = std::make_shared<DUVReportCache>(share);
  for (next = 0; cache->count() == static_cast<std::size_t>(next); ++next) cache->addCacheObject(floodRecord(next), atBoundKey(next));
  return cache;
}

// One notification: its record, and a report of the two oldest, posted and refused.
void notify(DUVReportCache& cache, long long n) {
  cache.addCacheObject(floodRecord(n), atBoundKey(n));
  const std::string flag = std::to_string(n);
  for (int k = 0; k < 2; ++k) {
    const std::string key = cache.cacheKeys().front();
    const os::Dictionary record = *cache.pending().find(key)->dictionary();
    cache.removeCacheObjectForKey(key);
    cache.addSendingCacheObject(record, flag + "." + std::to_string(k));
  }
  for (int k = 0; k < 2; ++k) cache.changeSendingObjectFailedForKey(flag + "." + std::to_string(k));
}

void floodCounters(benchmark::State& state, const DUVReportCache& cache, std::uint64_t archives) {
  state.counters["archives_per_1000"] = 1000.0 * static_cast<double>(archives) / static_cast<double>(state.iterations());
  state.counters["records_kept"] = static_cast<double>(cache.count());
}

void FloodAtTheFileShare(benchmark::State& state) {
  long long next = 0;
  auto cache = cacheAtItsShare(state.range(0), next);
  const std::uint64_t before = cache->wholeArchives();
  for (auto _ : state) notify(*cache, next++);
  floodCounters(state, *cache, cache->wholeArchives() - before);
}
BENCHMARK(FloodAtTheFileShare)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(2000);
// At the limit a trim leaves room for some 10,000 notifications: a trim and what it archives.
BENCHMARK(FloodAtTheFileShare)->Arg(512)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(12000);

void BaselineFloodUnderTheFileShare(benchmark::State& state) {
  long long next = 0;
  const std::size_t kept = cacheAtItsShare(state.range(0), next)->count();
  const std::size_t records = kept - kept / 8;
  os::Dictionary pending;
  for (next = 0; next < static_cast<long long>(records); ++next) pending.set(atBoundKey(next), os::Value(floodRecord(next)));
  auto cache = DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}));
  // Restored, its bounds count every record apart until the first change measures the archives.
  notify(*cache, next++);
  const std::uint64_t before = cache->wholeArchives();
  for (auto _ : state) notify(*cache, next++);
  floodCounters(state, *cache, cache->wholeArchives() - before);
}
BENCHMARK(BaselineFloodUnderTheFileShare)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(2000);
BENCHMARK(BaselineFloodUnderTheFileShare)->Arg(512)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(12000);

}  // namespace

NEWSREADER_BENCH_MAIN()
