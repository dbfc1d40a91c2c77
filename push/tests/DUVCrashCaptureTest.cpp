// Crashes happen in forked children; the parent reads their records as the next start would.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "os/runtime/CrashHooks.h"
#include "push/report/DUVCrashCapture.h"

namespace {

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

void crashInChild(const std::string& directory) {
  pid_t pid = ::fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    DUVCrashCapture::setNetworkStatus(2);  // as the network service last told it
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
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, {{"type", os::Value("device_info")}}, "NotReachable"), 2u);
  ASSERT_EQ(logSet.size(), 1u);
  const os::Value& record = logSet[0].at(0);
  EXPECT_EQ(record["count"].intValue(), 2);
  EXPECT_EQ(record["message"], os::Value("Signal " + std::to_string(SIGSEGV) + " was raised."));
  EXPECT_GT(record["stacktrace"].count(), 0u);
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));  // the crash's, not the reader's
  // Taken once: the start after finds nothing more.
  EXPECT_EQ(DUVCrashCapture::collect(directory, logSet, {}, ""), 0u);
  std::filesystem::remove_all(directory);
}

}  // namespace
