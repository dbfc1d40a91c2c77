// The three clients that join the platform's crash-hook chain, together in one process as the
// reader can have them: the crash reporter (started at launch), the push client's capture and the
// news client's dump. Each crash happens in a forked child; the parent reads what each left, as
// the next start would.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/VXAppDelegate.h"
#include "crash/Brekka.h"
#include "news/home/VXCrashHandler.h"
#include "os/core/Error.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/testing/TestSandbox.h"
#include "push/report/DUVCrashCapture.h"

namespace {

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

[[noreturn]] __attribute__((noinline)) void throwRange() {
  throw os::Exception(os::kRangeException, "index 9 beyond bounds [0 .. 2]");
}
void uncaughtException() noexcept { throwRange(); }

class CrashHookChain : public ::testing::Test {
 protected:
  void SetUp() override {
    // The hooks are the process's and a child inherits them: this binary holds only these tests,
    // whose parent never installs any, so a test that finds them installed says so.
    ASSERT_FALSE(os::CrashHooks::isInstalled()) << "crash hooks already installed in this process";
  }

  // The reporter first, as at launch, then the push client's capture and the news client's dump.
  void crashInChild(const std::function<void()>& crash) {
    pid_t pid = ::fork();
    if (pid == 0) {
      rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      bool ok = Brekka::startWithAPIKey(kBrekkaAPIKey)->handlersInstalled() &&
                DUVCrashCapture::install(DUVCrashCapture::recordDirectory());
      VXCrashHandler::setDefaultHandler();
      if (ok) crash();
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(WIFEXITED(status) && (WEXITSTATUS(status) == 3 || WEXITSTATUS(status) == 0));  // it did crash
  }
  std::vector<os::CrashRecord> reporterRecords() { return os::CrashHooks::takeRecords(Brekka::dataDirectory(), Brekka::kHookName); }
  std::vector<os::CrashRecord> pushRecords() {
    return os::CrashHooks::takeRecords(DUVCrashCapture::recordDirectory(), DUVCrashCapture::kHookName);
  }
  static os::Value pushMessage(const os::CrashRecord& record) {
    return DUVCrashCapture::crashRecord(record.text, record.time, {}, "").first["message"];
  }

  os::TestSandbox sandbox_;
};

TEST_F(CrashHookChain, AFaultLeavesARecordForTheReporterAndThePushClientEachInItsOwnFolder) {
  crashInChild(&nullDereference);
  auto reporter = reporterRecords();
  ASSERT_EQ(reporter.size(), 1u);
  EXPECT_EQ(reporter[0].signal, SIGSEGV);
  EXPECT_EQ(Brekka::reason(reporter[0]), "SIGSEGV");
  EXPECT_TRUE(reporter[0].complete);
  auto push = pushRecords();
  ASSERT_EQ(push.size(), 1u);
  EXPECT_EQ(pushMessage(push[0]), "Signal " + std::to_string(SIGSEGV) + " was raised.");
  // The news client's dump is for exceptions only.
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(VXCrashHandler::filePath()));
}

TEST_F(CrashHookChain, AnUncaughtExceptionReachesAllThreeOnce) {
  crashInChild(&uncaughtException);
  const std::string reason = "os::Exception: NSRangeException: index 9 beyond bounds [0 .. 2]";
  auto reporter = reporterRecords();
  ASSERT_EQ(reporter.size(), 1u);
  EXPECT_EQ(reporter[0].signal, 0);
  EXPECT_EQ(Brekka::reason(reporter[0]), reason);
  auto push = pushRecords();
  ASSERT_EQ(push.size(), 1u);
  EXPECT_EQ(pushMessage(push[0]), reason);
  auto dump = os::FileManager::defaultManager().contentsAtPath(VXCrashHandler::filePath());
  ASSERT_TRUE(dump);
  EXPECT_EQ(std::string(dump->begin(), dump->end()).rfind("index 9 beyond bounds [0 .. 2]", 0), 0u);
}

TEST_F(CrashHookChain, AWriteToAClosedPipeIsThePushClientsAlone) {
  crashInChild([] {
    int ends[2];
    if (::pipe(ends) != 0) return;
    ::close(ends[0]);
    [[maybe_unused]] auto written = ::write(ends[1], "x", 1);
  });
  EXPECT_TRUE(reporterRecords().empty());  // not among the reporter's seven signals
  auto push = pushRecords();
  ASSERT_EQ(push.size(), 1u);
  EXPECT_EQ(push[0].signal, SIGPIPE);
  EXPECT_EQ(pushMessage(push[0]), "Signal " + std::to_string(SIGPIPE) + " was raised.");
}

}  // namespace
