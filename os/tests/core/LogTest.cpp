#include "os/core/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "os/core/Data.h"
#include "os/store/FileManager.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "log-test-" + std::to_string(::getpid()) + ".log";
    os::FileManager::defaultManager().removeItemAtPath(path_);
    // Whatever sink the test program set is put back afterwards.
    previous_ = os::setLogSink(nullptr);
  }
  void TearDown() override {
    os::logToFile("", true);
    os::setLogSink(previous_);
    os::FileManager::defaultManager().removeItemAtPath(path_);
  }

  std::string file() const {
    auto bytes = os::FileManager::defaultManager().contentsAtPath(path_);
    return bytes ? os::stringFromData(*bytes) : "";
  }

  // What a line logged now puts on standard error.
  static std::string standardErrorOf(const std::string& line) {
    ::testing::internal::CaptureStderr();
    os::log(line);
    return ::testing::internal::GetCapturedStderr();
  }

  std::string path_;
  std::function<void(std::string_view)> previous_;
};

TEST_F(LogTest, LinesGoToTheFileAloneOrToStandardErrorTooAsChosen) {
  EXPECT_EQ(standardErrorOf("before"), "before\n");

  ASSERT_TRUE(os::logToFile(path_, false));
  EXPECT_EQ(standardErrorOf("quiet line"), "");
  EXPECT_EQ(file(), "quiet line\n");

  // Verbose: both; the file is appended to, never started over.
  ASSERT_TRUE(os::logToFile(path_, true));
  EXPECT_EQ(standardErrorOf("loud line"), "loud line\n");
  EXPECT_EQ(file(), "quiet line\nloud line\n");

  ASSERT_TRUE(os::logToFile("", true));
  EXPECT_EQ(standardErrorOf("after"), "after\n");
  EXPECT_EQ(file(), "quiet line\nloud line\n");
}

TEST_F(LogTest, AFileThatCannotBeOpenedLeavesStandardError) {
  EXPECT_FALSE(os::logToFile(path_ + ".missing-folder/x.log", false));
  EXPECT_EQ(standardErrorOf("still said"), "still said\n");
}

TEST_F(LogTest, ASinkTakesTheLinesBeforeTheFile) {
  ASSERT_TRUE(os::logToFile(path_, true));
  std::string taken;
  os::setLogSink([&taken](std::string_view line) { taken += std::string(line) + "\n"; });
  EXPECT_EQ(standardErrorOf("to the sink"), "");
  os::setLogSink(nullptr);
  EXPECT_EQ(taken, "to the sink\n");
  EXPECT_EQ(file(), "");
}

}  // namespace
