// Crashes happen in forked children; the parent reads their records as the next start would.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "os/runtime/CrashHooks.h"
#include "os/testing/TestSandbox.h"
#include "push/network/DUVHttpSession.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUtilities.h"

namespace {

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

void crashInChild(const std::string& directory, const std::function<void()>& beforeInstall = {}) {
  pid_t pid = ::fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    DUVCrashCapture::setNetworkStatus(2);  // as the network service last told it
    if (beforeInstall) beforeInstall();
    if (DUVCrashCapture::install(directory)) nullDereference();
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
  os::Array logSet;
  auto keep = [] { return true; };
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, {{"type", os::Value("device_info")}}, "NotReachable", keep), 2u);
  ASSERT_EQ(logSet.size(), 1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["count"].intValue(), 2);
  EXPECT_EQ(record["message"], os::Value("Signal " + std::to_string(SIGSEGV) + " was raised."));
  EXPECT_GT(record["stacktrace"].count(), 0u);
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));  // the crash's, not the reader's
  // Taken once: the start after finds nothing more.
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, {}, "", keep), 0u);
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
  os::Array logSet;
  ASSERT_EQ(DUVCrashCapture::collect(directory, logSet, reading, "NotReachable", [] { return true; }), 1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["versionname"], os::Value("1.0"));
  EXPECT_EQ(record["versioncode"], os::Value("1.0"));
  EXPECT_EQ(record["device_info"], os::Value(crashed));
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));
  EXPECT_GT(record["stacktrace"].count(), 0u);
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
  os::Array logSet;
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, {}, "", [] { return false; }), 1u);
  EXPECT_EQ(os::CrashHooks::readRecords(directory, DUVCrashCapture::kHookName).size(), 1u);
}

}  // namespace
