// The crash dump upload against the local news server: what is sent, what is deleted and what
// stays, including log lines written while the upload is on the way.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "news/api/VXGlobalHelper.h"
#include "news/home/VXCrashHandler.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/CutShortWrite.h"
#include "tools/newsd/server/NewsServer.h"

namespace {

class VXCrashHandlerTest : public newstest::RealTimeFixture {
 protected:
  void SetUp() override { startServer(1); }

  static bool dumpExists() { return os::FileManager::defaultManager().fileExistsAtPath(VXCrashHandler::filePath()); }

  // Runs one upload to its end; whether the server took it.
  std::optional<bool> upload() {
    std::optional<bool> taken;
    VXCrashHandler::uploadDump([&](bool t) { taken = t; });
    EXPECT_TRUE(newstest::runUntil([&] { return taken.has_value(); }));
    return taken;
  }
  std::vector<std::string> receivedDumps() const { return server_->service().received().crashDumps; }
};

TEST_F(VXCrashHandlerTest, DumpFileSitsInTheCachesFolderAndHoldsReasonAndStack) {
  EXPECT_EQ(VXCrashHandler::filePath(), env_.sandbox().sandbox()->homeDirectory() + "/Library/Caches/crash.m");
  EXPECT_EQ(VXCrashHandler::dumpText("boom", {"0 a", "1 b"}), "boom(\n    \"0 a\",\n    \"1 b\"\n)");
  VXCrashHandler::UncaughtExceptionHandlers(os::Exception(os::kRangeException, "index 3 beyond bounds"));
  auto dump = os::FileManager::defaultManager().contentsAtPath(VXCrashHandler::filePath());
  ASSERT_TRUE(dump);
  EXPECT_EQ(std::string(dump->begin(), dump->end()).rfind("index 3 beyond bounds(", 0), 0u);
}

TEST_F(VXCrashHandlerTest, WithoutADumpNothingIsSentAndTheLogStays) {
  VXGlobalHelper::writeLog("db failed");
  EXPECT_EQ(upload(), false);
  EXPECT_TRUE(receivedDumps().empty());
  EXPECT_EQ(VXGlobalHelper::readLog(), "db failed\n");
}

// A dump cut short as the process died leaves its temporary file in the caches folder: the next
// launch's upload removes it, whether or not a dump is there, and the folder's other files stay.
TEST_F(VXCrashHandlerTest, TheUploadRemovesWhatADumpCutShortLeft) {
  auto& fm = os::FileManager::defaultManager();
  const std::string caches = VXGlobalHelper::cachesDirectory();
  const std::string others = os::testing::plantCutShortWrite(caches + "news.sqlite");
  std::string cutShort = os::testing::plantCutShortWrite(VXCrashHandler::filePath(), 1);
  ASSERT_FALSE(others.empty() || cutShort.empty());
  VXGlobalHelper::writeLog("db failed");
  EXPECT_EQ(upload(), false);
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));

  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), "reason"));
  cutShort = os::testing::plantCutShortWrite(VXCrashHandler::filePath(), 2);
  ASSERT_FALSE(cutShort.empty());
  EXPECT_EQ(upload(), true);
  EXPECT_EQ(receivedDumps(), (std::vector<std::string>{"reason"}));
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));
  EXPECT_TRUE(fm.fileExistsAtPath(others));
}

TEST_F(VXCrashHandlerTest, ATakenDumpIsDeletedWithTheUploadedLog) {
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), "崩溃 reason\r\nstack"));
  VXGlobalHelper::writeLog("line one");
  EXPECT_EQ(upload(), true);
  EXPECT_EQ(receivedDumps(), (std::vector<std::string>{"崩溃 reason\r\nstack"}));
  EXPECT_FALSE(dumpExists());
  EXPECT_EQ(VXGlobalHelper::readLog().value_or("?"), "");
}

TEST_F(VXCrashHandlerTest, ARefusedOrFailedUploadKeepsBothFiles) {
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), "reason"));
  VXGlobalHelper::writeLog("line one");
  server_->setFault(1090, newsd::Fault{newsd::FailureMode::ErrorCode, 0});
  EXPECT_EQ(upload(), false);
  server_->setFault(1090, newsd::Fault{newsd::FailureMode::HttpError, 0});
  EXPECT_EQ(upload(), false);
  EXPECT_TRUE(dumpExists());
  // The runner notes the refused envelope after the line that was there.
  EXPECT_EQ(VXGlobalHelper::readLog().value_or("").rfind("line one\nerrorcode is -1", 0), 0u);
}

TEST_F(VXCrashHandlerTest, ADumpThatIsNotUTF8IsNeverSentNorDeleted) {
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), std::string("bad \xff\xfe text")));
  EXPECT_EQ(upload(), false);
  EXPECT_TRUE(receivedDumps().empty());
  EXPECT_TRUE(dumpExists());
}

TEST_F(VXCrashHandlerTest, LinesWrittenWhileTheUploadIsOnTheWayStay) {
  os::VirtualClockScope clock;
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), "reason"));
  VXGlobalHelper::writeLog("before");
  server_->setFault(1090, newsd::Fault{newsd::FailureMode::None, 5});
  std::optional<bool> taken;
  VXCrashHandler::uploadDump([&](bool t) { taken = t; });
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  VXGlobalHelper::writeLog("after one");
  VXGlobalHelper::writeLog("after two");
  os::Clock::advance(5);
  ASSERT_TRUE(newstest::runUntil([&] { return taken.has_value(); }));
  EXPECT_EQ(taken, true);
  EXPECT_EQ(VXGlobalHelper::readLog(), "after one\nafter two\n");
}

// The log filled to its default limit many times over, with lines as the runner writes them,
// stays within the limit, reads back whole from the file, and goes with the dump the crash left.
TEST_F(VXCrashHandlerTest, ALogFilledToItsLimitStaysWithinItAndGoesWholeWithTheDump) {
  const std::size_t limit = VXGlobalHelper::kDefaultLogLimit;
  ASSERT_EQ(VXGlobalHelper::logLimit(), limit);
  const std::string respdict(3000, 'r');
  std::size_t written = 0;
  for (int i = 0; written < 3 * limit; ++i) {
    std::string line = i % 3 ? "加载数据失败 第" + std::to_string(i) + "次 网络错误"
                             : "errorcode is -1 and opcode is 1020 and respdict is {" + respdict + "}";
    VXGlobalHelper::writeLog(line);
    written += line.size() + 1;
  }
  VXGlobalHelper::writeLog("最后一行");
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), "崩溃 reason\nstack"));

  auto log = VXGlobalHelper::readLog();
  ASSERT_TRUE(log);
  EXPECT_LE(log->size(), limit);
  EXPECT_GE(log->size(), limit / 2 - respdict.size());
  EXPECT_TRUE(os::hasSuffix(*log, "\n最后一行\n"));
  EXPECT_EQ(upload(), true);
  EXPECT_EQ(receivedDumps(), (std::vector<std::string>{"崩溃 reason\nstack"}));
  EXPECT_EQ(VXGlobalHelper::readLog().value_or("?"), "");
}

TEST_F(VXCrashHandlerTest, OnlyWhatIsLeftOfTheUploadedPartGoesFromATrimmedLog) {
  VXGlobalHelper::writeLog("b");
  VXGlobalHelper::writeLog("c");
  VXGlobalHelper::writeLog("d");
  // "a" was cut from the front since the upload read "a b c".
  VXCrashHandler::removeUploadedLog("a\nb\nc\n");
  EXPECT_EQ(VXGlobalHelper::readLog(), "d\n");
  // Nothing of the uploaded part left: the log is untouched.
  VXCrashHandler::removeUploadedLog("x\ny\n");
  EXPECT_EQ(VXGlobalHelper::readLog(), "d\n");
}

// The uploaded part goes line by line while the parsing queue goes on writing its lines: every
// line written meanwhile stays, in order, and only the uploaded ones go.
TEST_F(VXCrashHandlerTest, LinesWrittenWhileTheUploadedPartGoesAllStay) {
  constexpr int kUploaded = 100, kWritten = 2000;
  for (int i = 0; i < kUploaded; ++i) VXGlobalHelper::writeLog("uploaded " + std::to_string(i));
  os::Semaphore go;
  auto writer = os::Thread::create("parsing", [&] {
    go.wait();
    for (int i = 0; i < kWritten; ++i) VXGlobalHelper::writeLog("加载数据失败 " + std::to_string(i));
  });
  writer->start();
  go.signal();
  for (int i = 0; i < kUploaded; ++i) VXCrashHandler::removeUploadedLog("uploaded " + std::to_string(i) + "\n");
  writer->join();
  std::string expected;
  for (int i = 0; i < kWritten; ++i) expected += "加载数据失败 " + std::to_string(i) + "\n";
  EXPECT_EQ(VXGlobalHelper::readLog().value_or("?"), expected);
}

}  // namespace
