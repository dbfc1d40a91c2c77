#include "os/core/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// A whole answer logged by someone (megabytes of it) leaves one line of bounded length that says
// how much there was, cut between characters; a line within the limit is left whole.
TEST(LogLineTest, LongLinesAreCutToTheLimitWithANoteOfTheirLength) {
  std::vector<std::string> lines;
  auto previous = os::setLogSink([&](std::string_view line) { lines.emplace_back(line); });
  std::string huge;
  while (huge.size() < (std::size_t{8} << 20)) huge += "在线";  // 3-byte characters
  os::log(huge);
  os::logf("resultStr:%s", huge.c_str());
  std::string fits(os::kLogLineLimit, 'x');
  os::log(fits);
  os::setLogSink(previous);

  ASSERT_EQ(lines.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_LE(lines[i].size(), os::kLogLineLimit);
    EXPECT_GT(lines[i].size(), os::kLogLineLimit - 64);
    EXPECT_NE(lines[i].find("bytes in all)"), std::string::npos);
    auto body = lines[i].substr(0, lines[i].find("..."));
    EXPECT_EQ(body.size() % 3, i == 0 ? 0u : 1u) << "cut between characters";
  }
  EXPECT_NE(lines[0].find(std::to_string(huge.size()) + " bytes in all"), std::string::npos);
  EXPECT_NE(lines[1].find(std::to_string(huge.size() + 10) + " bytes in all"), std::string::npos);
  EXPECT_EQ(lines[1].rfind("resultStr:在线", 0), 0u);
  EXPECT_EQ(lines[2], fits);
}

}  // namespace
