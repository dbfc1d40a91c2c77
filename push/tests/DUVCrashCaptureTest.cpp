// Crashes happen in forked children; the parent reads their records as the next start would.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "os/runtime/Clock.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/testing/TestSandbox.h"
#include "push/model/DUVClient.h"
#include "push/network/DUVHttpSession.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUtilities.h"

namespace {

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

[[noreturn]] __attribute__((noinline)) void throwLines() { throw std::runtime_error("bad input\nat line 2"); }
void uncaughtLines() noexcept { throwLines(); }

void crashInChild(const std::string& directory, const std::function<void()>& beforeInstall = {},
                  void (*crash)() = &nullDereference) {
  pid_t pid = ::fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    DUVCrashCapture::setNetworkStatus(2);  // as the network service last told it
    if (beforeInstall) beforeInstall();
    if (DUVCrashCapture::install(directory)) crash();
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3);  // it did crash
}

TEST(DUVCrashCapture, TwoIdenticalCrashesMakeOneRecordCountedTwice) {
  char name[] = "/tmp/duvcrash-XXXXXX";
  ASSERT_TRUE(mkdtemp(name));
  std::string directory = name;
  for (int i = 0; i < 2; ++i) crashInChild(directory);  // one call site: the same stack
  os::Array logSet, taken;
  auto keep = [] { return true; };
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {{"type", os::Value("device_info")}}, "NotReachable", keep), 2u);
  ASSERT_EQ(logSet.size(), 1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["count"].intValue(), 2);
  EXPECT_EQ(record["message"], os::Value("Signal " + std::to_string(SIGSEGV) + " was raised."));
  EXPECT_GT(record["stacktrace"].count(), 0u);
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));  // the crash's, not the reader's
  // Taken once: the start after finds nothing more.
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", keep), 0u);
  std::filesystem::remove_all(directory);
}

TEST(DUVCrashCapture, ARepeatCountsInTheFirstOfEqualElements) {
  // A set holding three elements of one stack and message (as a set restored from an older run may):
  // a repeat counts in the first, as a walk from the front finds it, and leaves the others alone.
  char name[] = "/tmp/duvcrash-XXXXXX";
  ASSERT_TRUE(mkdtemp(name));
  std::string directory = name;
  auto keep = [] { return true; };
  os::Array logSet, taken;
  auto setCount = [&](std::size_t i, int count) {
    os::Array* element = logSet[i].mutableArray();
    element->front().mutableDictionary()->set("count", os::Value(count));
  };
  for (int round = 0; round < 2; ++round) {
    crashInChild(directory);  // one call site: the same stack and message each time
    ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "NotReachable", keep), 1u);
    if (round == 0) {
      ASSERT_EQ(logSet.size(), 1u);
      logSet.push_back(logSet[0]);
      logSet.push_back(logSet[0]);
      setCount(0, 5);
      setCount(1, 7);
      setCount(2, 9);
    }
  }
  ASSERT_EQ(logSet.size(), 3u);
  EXPECT_EQ(logSet[0].at(0)["count"].intValue(), 6);
  EXPECT_EQ(logSet[1].at(0)["count"].intValue(), 7);
  EXPECT_EQ(logSet[2].at(0)["count"].intValue(), 9);
  std::filesystem::remove_all(directory);
}

TEST(DUVCrashCapture, ARecordTellsTheVersionAndDeviceOfTheRunThatCrashed) {
  os::TestSandbox sandbox;
  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("1.0")}});
  std::string directory = sandbox.root() + "/crash-records";
  const os::Dictionary crashed{{"type", os::Value("device_info")}, {"os_version", os::Value("14.2")},
                               {"app_versionname", os::Value("1.0")}};
  crashInChild(directory, [&] { DUVCrashCapture::setRunFacts(DUVGetCurrentAPPVersion(), crashed); });

  // Updated before the next start.
  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("1.1")}});
  ASSERT_EQ(DUVGetCurrentAPPVersion(), "1.1");
  const os::Dictionary reading{{"type", os::Value("device_info")}, {"os_version", os::Value("15.0")},
                               {"app_versionname", os::Value("1.1")}};
  os::Array logSet, taken;
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, reading, "NotReachable", [] { return true; }), 1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["versionname"], os::Value("1.0"));
  EXPECT_EQ(record["versioncode"], os::Value("1.0"));
  EXPECT_EQ(record["device_info"], os::Value(crashed));
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));
  EXPECT_GT(record["stacktrace"].count(), 0u);
}

TEST(DUVCrashCapture, AMessageOfSeveralLinesKeepsItsRunsFactsAndIdenticalOnesCountAsOne) {
  os::TestSandbox sandbox;
  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("1.0")}});
  std::string directory = sandbox.root() + "/crash-records";
  const os::Dictionary crashed{{"type", os::Value("device_info")}, {"app_versionname", os::Value("1.0")}};
  for (int i = 0; i < 2; ++i)
    crashInChild(directory, [&] { DUVCrashCapture::setRunFacts(DUVGetCurrentAPPVersion(), crashed); }, &uncaughtLines);

  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("1.1")}});
  DUVHttpSession::Environment environment;
  environment.fileCache = DUVFileCache::startCacheFile("ZURAR");
  auto session = DUVHttpSession::create(environment);
  ASSERT_EQ(session->collectCrashRecords(directory, {{"type", os::Value("reader")}}, "NotReachable"), 2u);
  ASSERT_EQ(session->logSet().size(), 1u);
  const os::Value& record = session->logSet()[0].at(0);
  EXPECT_EQ(record["message"], os::Value("std::runtime_error: bad input\nat line 2"));
  EXPECT_EQ(record["count"].intValue(), 2);
  EXPECT_EQ(record["versionname"], os::Value("1.0"));
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));
  EXPECT_EQ(record["device_info"], os::Value(crashed));
  for (const auto& line : *record["stacktrace"].array()) EXPECT_EQ(line.string()->rfind("0x", 0), 0u) << *line.string();

  // Line breaks and backslashes come back as they were; a record as earlier versions wrote it
  // (the message first, then the facts) still reads.
  auto escaped = DUVCrashCapture::crashRecord("networktype=ReachableViaWWAN\nmessage=a\\\\n\\nb\\r\\q\n0x1\n", 1.7e9, {}, "");
  EXPECT_EQ(escaped.first["message"], os::Value("a\\n\nb\r\\q"));
  EXPECT_EQ(escaped.second, "0x1\n");
  auto earlier = DUVCrashCapture::crashRecord("Signal 11 was raised.\nnetworktype=ReachableViaWWAN\nversionname=0.9\n0x1\n",
                                              1.7e9, {}, "NotReachable");
  EXPECT_EQ(earlier.first["message"], os::Value("Signal 11 was raised."));
  EXPECT_EQ(earlier.first["versionname"], os::Value("0.9"));
  EXPECT_EQ(earlier.first["networktype"], os::Value("ReachableViaWWAN"));
  EXPECT_EQ(earlier.second, "0x1\n");
}

// The crash set is stored in the file cache's file; a folder in its place makes storing it fail.
class CrashSetStore {
 public:
  explicit CrashSetStore(const std::string& path) : path_(path) {}
  void block() {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_ + "/in-the-way");
  }
  void unblock() { std::filesystem::remove_all(path_); }

 private:
  std::string path_;
};

std::shared_ptr<DUVHttpSession> startRun() {
  DUVHttpSession::Environment environment;
  environment.fileCache = DUVFileCache::startCacheFile("ZURAR");
  return DUVHttpSession::create(environment);
}

TEST(DUVCrashCapture, ARecordReadOnceIsCountedOnceWhicheverStepFails) {
  os::TestSandbox sandbox;
  os::VirtualClockScope clock;
  std::string directory = sandbox.root() + "/crash-records";
  CrashSetStore store(DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR"));

  // Storing at start fails; going inactive later stores the set.
  crashInChild(directory);
  {
    store.block();
    auto run = startRun();
    ASSERT_EQ(run->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    store.unblock();
    run->reportInactive(os::Clock::now());
  }
  {
    auto next = startRun();
    ASSERT_EQ(next->logSet().size(), 1u);
    EXPECT_EQ(next->collectCrashRecords(directory, {}, "NotReachable"), 0u);
    ASSERT_EQ(next->logSet().size(), 1u);
    EXPECT_EQ(next->logSet()[0].at(0)["count"].intValue(), 1);
    // Sent by this run's crash check: the set is emptied and stored so.
    next->logSet().clear();
    next->reportInactive(os::Clock::now());
  }
  EXPECT_TRUE(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).empty());

  // Storing at start fails, the crash check sends the set, and going inactive stores it empty.
  crashInChild(directory);
  {
    store.block();
    auto run = startRun();
    ASSERT_EQ(run->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    run->logSet().clear();
    store.unblock();
    run->reportInactive(os::Clock::now());
  }
  {
    auto next = startRun();
    EXPECT_EQ(next->collectCrashRecords(directory, {}, "NotReachable"), 0u);
    EXPECT_TRUE(next->logSet().empty());
  }

  // Storing fails at start and again when going inactive: the next start still has the record.
  crashInChild(directory);
  {
    store.block();
    auto run = startRun();
    ASSERT_EQ(run->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    run->reportInactive(os::Clock::now());
    store.unblock();
  }
  {
    auto next = startRun();
    EXPECT_EQ(next->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    ASSERT_EQ(next->logSet().size(), 1u);
    EXPECT_EQ(next->logSet()[0].at(0)["count"].intValue(), 1);
  }
}

TEST(DUVCrashCapture, ARecordWhoseDiscardFailsIsNotCountedAgain) {
  os::TestSandbox sandbox;
  std::string directory = sandbox.root() + "/crash-records";
  std::string file = os::CrashHooks::recordPath(directory, DUVCrashCapture::kHookName);
  crashInChild(directory);
  os::Array logSet, taken;
  // The set is stored, and then the hook's file cannot be emptied.
  auto storedButStuck = [&] {
    std::filesystem::rename(file, file + ".aside");
    std::filesystem::create_directories(file + "/in-the-way");
    return true;
  };
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", storedButStuck), 1u);
  std::filesystem::remove_all(file);
  std::filesystem::rename(file + ".aside", file);
  EXPECT_EQ(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).size(), 1u);
  EXPECT_EQ(taken.size(), 1u);
  // The next reading, with the marks stored beside the set, lets the record go uncounted.
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return true; }), 0u);
  ASSERT_EQ(logSet.size(), 1u);
  EXPECT_EQ(logSet[0].at(0)["count"].intValue(), 1);
  EXPECT_TRUE(taken.empty());
  EXPECT_TRUE(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).empty());
}

// A record appended to the hook's file as the hook writes it: for crashes whose timing a forked
// child cannot choose (two in one microsecond, a damaged time).
void appendRecord(const std::string& directory, const std::string& time, const std::string& text, int signal = 11) {
  const auto& files = os::FileManager::defaultManager();
  ASSERT_TRUE(files.createDirectoryAtPath(directory, true));
  std::string record = "CRASHRECORD v1 signal=" + std::to_string(signal) + " code=0 address=0x0 time=" + time +
                       " length=" + std::to_string(text.size()) + "\n" + text + "\n";
  ASSERT_TRUE(files.appendData(os::dataFromString(record),
                               os::CrashHooks::recordPath(directory, DUVCrashCapture::kHookName)));
}

std::size_t recordsLeft(const std::string& directory) {
  return os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).size();
}

const std::string kSegvText = "networktype=ReachableViaWiFi\nmessage=Signal 11 was raised.\n0x1\n0x2\n";
const std::string kAbortText = "message=Signal 6 was raised.\n0x9\n";

TEST(DUVCrashCapture, RecordsAlikeToTheMicrosecondAreEachACrash) {
  os::TestSandbox sandbox;
  std::string directory = sandbox.root() + "/crash-records";
  // Two processes of one build crashing in the same microsecond, and two records whose time could
  // not be read.
  appendRecord(directory, "1700000000.000001", kSegvText);
  appendRecord(directory, "1700000000.000001", kSegvText);
  appendRecord(directory, "unreadable", kAbortText, 6);
  appendRecord(directory, "unreadable", kAbortText, 6);
  os::Array logSet, taken;
  // Counted, but the set not stored: the records stay with the hook, marked.
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "NotReachable", [] { return false; }), 4u);
  ASSERT_EQ(logSet.size(), 2u);
  EXPECT_EQ(logSet[0].at(0)["count"].intValue(), 2);
  EXPECT_EQ(logSet[1].at(0)["count"].intValue(), 2);
  EXPECT_EQ(taken.size(), 4u);
  EXPECT_EQ(recordsLeft(directory), 4u);

  // A third such crash after that reading: each mark covers one record, so it alone is new.
  appendRecord(directory, "1700000000.000001", kSegvText);
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "NotReachable", [] { return true; }), 1u);
  ASSERT_EQ(logSet.size(), 2u);
  EXPECT_EQ(logSet[0].at(0)["count"].intValue(), 3);
  EXPECT_EQ(logSet[1].at(0)["count"].intValue(), 2);
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(recordsLeft(directory), 0u);

  // A mark as earlier versions stored it still covers its record.
  appendRecord(directory, "1700000000.000001", kSegvText);
  os::Array stored{os::Value("1700000000.000001 11 67 c54954adf7533aca")};
  os::Array earlierSet;
  EXPECT_EQ(DUVCrashCapture::collect(directory, earlierSet, stored, {}, "", [] { return true; }), 0u);
  EXPECT_TRUE(earlierSet.empty());
  EXPECT_EQ(recordsLeft(directory), 0u);
}

TEST(DUVCrashCapture, ReleaseLetsGoOnlyTheRecordsItsMarksCover) {
  os::TestSandbox sandbox;
  struct Case {
    const char* what;
    std::string time, text, laterTime, laterText;
  };
  const Case cases[] = {
      {"a later crash", "1700000000.000001", kSegvText, "1700000100.5", kAbortText},
      {"the same crash again, in the same microsecond", "1700000000.000001", kSegvText, "1700000000.000001", kSegvText},
      // Times far past any clock, spelled whole in the mark: the texts still tell the two apart.
      {"another crash at a damaged time", "0.1e89", kSegvText, "0.1e89", kAbortText},
      {"another crash at the largest damaged time", "0.1e309", kSegvText, "0.1e309", kSegvText + "0x3\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string directory = sandbox.root() + "/crash-records-" + std::to_string(n++);
    appendRecord(directory, c.time, c.text);
    os::Array logSet, taken;
    ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return false; }), 1u) << c.what;
    // The run crashes after its reading and before the records leave the hook's file.
    appendRecord(directory, c.laterTime, c.laterText);
    EXPECT_FALSE(DUVCrashCapture::release(directory, taken)) << c.what;
    EXPECT_EQ(recordsLeft(directory), 2u) << c.what;
    EXPECT_EQ(taken.size(), 1u) << c.what;
    // The next reading counts the later one alone and lets both go.
    EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return true; }), 1u) << c.what;
    EXPECT_EQ(recordsLeft(directory), 0u) << c.what;
    EXPECT_TRUE(taken.empty()) << c.what;
    std::int64_t total = 0;
    for (const auto& element : logSet) total += element.at(0)["count"].intValue();
    EXPECT_EQ(total, 2) << c.what;
  }
}

// A run killed after its records were discarded, before it stored the set again, leaves marks of
// records already gone; the next run restores them. They must cover no other crash.
TEST(DUVCrashCapture, MarksOfRecordsAlreadyGoneCoverNoOtherCrash) {
  os::TestSandbox sandbox;
  int n = 0;
  // Times far past any clock are spelled whole in the mark: its signal, length and hash still count.
  for (const char* time : {"1700000000.000001", "0.1e89", "0.1e309"}) {
    std::string directory = sandbox.root() + "/crash-records-" + std::to_string(n++);
    appendRecord(directory, time, kSegvText);
    os::Array logSet, taken;
    ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return false; }), 1u) << time;
    const os::Array stale = taken;
    ASSERT_TRUE(DUVCrashCapture::release(directory, taken)) << time;
    ASSERT_EQ(recordsLeft(directory), 0u) << time;

    appendRecord(directory, time, kAbortText, 6);
    os::Array restored = stale;
    EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, restored, {}, "", [] { return true; }), 1u) << time;
    ASSERT_EQ(logSet.size(), 2u) << time;
    EXPECT_EQ(logSet[1].at(0)["message"], os::Value("Signal 6 was raised.")) << time;
    EXPECT_EQ(recordsLeft(directory), 0u) << time;
  }
}

TEST(DUVCrashCapture, MarksRestoredByARunThatGoesInactiveBeforeReadingStillCoverTheirRecords) {
  os::TestSandbox sandbox;
  os::VirtualClockScope clock;
  std::string directory = sandbox.root() + "/crash-records";
  CrashSetStore store(DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR"));
  crashInChild(directory);
  {
    // Read while the set cannot be stored: the record stays with the hook, marked.
    store.block();
    auto run = startRun();
    ASSERT_EQ(run->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    store.unblock();
    // This run crashes later (a child stands for it) and went inactive before: the set and its
    // mark are stored, and the later record is no reason to let the marked one go.
    crashInChild(directory);
    run->reportInactive(os::Clock::now());
    EXPECT_EQ(recordsLeft(directory), 2u);
  }
  // The next run goes inactive, and active again, before it reads the records.
  auto next = startRun();
  ASSERT_EQ(next->logSet().size(), 1u);
  next->reportInactive(os::Clock::now());
  EXPECT_EQ(recordsLeft(directory), 2u);
  next->reportInactive(os::Clock::now());
  EXPECT_EQ(next->collectCrashRecords(directory, {}, "NotReachable"), 1u);
  std::int64_t total = 0;
  for (const auto& element : next->logSet()) total += element.at(0)["count"].intValue();
  EXPECT_EQ(total, 2);
  EXPECT_EQ(recordsLeft(directory), 0u);
}

TEST(DUVCrashCapture, TheClientGivesTheCaptureItsRunsFactsAtStart) {
  os::TestSandbox sandbox;
  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("2.0")}});
  sandbox.writeBundlePropertyList("PushConfig.plist",
                                  os::Value(os::Dictionary{{"APP_KEY", os::Value("ABC123")}, {"CHANNEL", os::Value("store")}}));
  // Switched on before the client starts, as at launch: the facts come with the start.
  pid_t pid = ::fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    auto client = std::make_shared<DUVClient>();
    client->setBundleIdentifier("com.example.newsreader");
    client->setPushConfigUrl(os::Bundle::mainBundle()->pathForResource("PushConfig", "plist"));
    client->setCrashLogON();
    client->setup();
    if (client->pushConfig() && os::CrashHooks::isInstalled()) nullDereference();
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3);  // it did crash

  sandbox.setInfoDictionary({{"CFBundleShortVersionString", os::Value("2.1")}});
  os::Array logSet, taken;
  ASSERT_EQ(DUVCrashCapture::collect(DUVCrashCapture::recordDirectory(), logSet, taken, DUVCurrentDeviceInfo("reader"),
                                     "NotReachable", [] { return true; }),
            1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["versionname"], os::Value("2.0"));
  os::Dictionary device = *record["device_info"].dictionary();
  EXPECT_EQ(device["Channel"], os::Value("store"));
  EXPECT_EQ(device["app_versionname"], os::Value("2.0"));
  os::Dictionary expected = DUVCurrentDeviceInfo("store");
  expected.set("app_versionname", os::Value("2.0"));
  expected.set("app_versioncode", os::Value("2.0"));
  device.set("itime", os::Value());
  expected.set("itime", os::Value());
  EXPECT_EQ(device, expected);
}

void writeToAClosedPipe() {
  int ends[2];
  if (::pipe(ends) != 0) return;
  ::close(ends[0]);
  [[maybe_unused]] auto written = ::write(ends[1], "x", 1);
}

TEST(DUVCrashCapture, AWriteToAClosedPipeLeavesARecordUnlessThePipeSignalIsIgnored) {
  os::TestSandbox sandbox;
  std::string directory = sandbox.root() + "/crash-records";
  pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);  // the system's default, whatever this process did before
    if (DUVCrashCapture::install(directory)) writeToAClosedPipe();
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGPIPE);  // still the death it would have been
  os::Array logSet, taken;
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return true; }), 1u);
  EXPECT_EQ(logSet[0].at(0)["message"], os::Value("Signal " + std::to_string(SIGPIPE) + " was raised."));

  // A process that ignores the signal lives on, with nothing to record.
  pid = ::fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_IGN);
    if (DUVCrashCapture::install(directory)) writeToAClosedPipe();
    ::_exit(3);
  }
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  EXPECT_TRUE(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).empty());
}

TEST(DUVCrashCapture, EarlierRecordsSurviveARunThatEndsBeforeItSavesItsSession) {
  os::TestSandbox sandbox;
  std::string directory = sandbox.root() + "/crash-records";
  crashInChild(directory);
  auto startRun = [] {
    DUVHttpSession::Environment environment;
    environment.fileCache = DUVFileCache::startCacheFile("ZURAR");
    return DUVHttpSession::create(environment);
  };
  {
    // A run that reads the records and is killed while active: never inactive, no snapshot.
    auto run = startRun();
    ASSERT_EQ(run->collectCrashRecords(directory, {}, "NotReachable"), 1u);
    EXPECT_EQ(run->logSet().size(), 1u);
  }
  EXPECT_TRUE(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).empty());
  auto next = startRun();
  ASSERT_EQ(next->logSet().size(), 1u);
  EXPECT_EQ(next->logSet()[0].at(0)["message"], os::Value("Signal " + std::to_string(SIGSEGV) + " was raised."));
  EXPECT_EQ(next->collectCrashRecords(directory, {}, "NotReachable"), 0u);
  EXPECT_EQ(next->logSet().size(), 1u);

  // Where the crash set cannot be stored, the records stay with the hook for the next start.
  crashInChild(directory);
  os::Array logSet, taken;
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, taken, {}, "", [] { return false; }), 1u);
  EXPECT_EQ(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).size(), 1u);
}

}  // namespace
