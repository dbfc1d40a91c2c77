#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "os/console/InputLines.h"
#include "os/runtime/RunLoop.h"

namespace os::test {
namespace {

// The writing end of a pipe whose reading end the main run loop watches.
class InputLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(fds_), 0);
    input_ = InputLines::watch(
        RunLoop::main(), [this](const std::string& line) { lines_.push_back(line); }, [this] { ended_ = true; }, fds_[0]);
  }
  void TearDown() override {
    input_.reset();
    closeWriter();
    ::close(fds_[0]);
  }
  void write(const std::string& text) { ASSERT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size())); }
  void closeWriter() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }
  // Runs the main loop until the condition holds (the bound only stops a hang).
  static bool until(const std::function<bool()>& condition) { return RunLoop::main()->runUntil(condition, 30); }

  int fds_[2] = {-1, -1};
  std::shared_ptr<InputLines> input_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

// A command runs when its line arrives, while the writer keeps the pipe open: a program that
// feeds the reader and waits for its answers must not wait for its own end.
TEST_F(InputLinesTest, EachLineArrivesWhileTheWriterStillHoldsThePipe) {
  write("help\nta");
  ASSERT_TRUE(until([&] { return !lines_.empty(); }));
  EXPECT_EQ(lines_, (std::vector<std::string>{"help"}));
  EXPECT_FALSE(ended_);
  write("p 要闻\n\nwait 1\n");
  ASSERT_TRUE(until([&] { return lines_.size() == 4; }));
  EXPECT_EQ(lines_, (std::vector<std::string>{"help", "tap 要闻", "", "wait 1"}));
  EXPECT_FALSE(ended_);
  EXPECT_FALSE(input_->ended());
}

TEST_F(InputLinesTest, TheEndBringsTheUnfinishedLastLineThenTheEnd) {
  write("quit");
  closeWriter();
  ASSERT_TRUE(until([&] { return ended_; }));
  EXPECT_EQ(lines_, (std::vector<std::string>{"quit"}));
  EXPECT_TRUE(input_->ended());
}

TEST_F(InputLinesTest, AnInputClosedAtOnceEndsWithNoLine) {
  closeWriter();
  ASSERT_TRUE(until([&] { return ended_; }));
  EXPECT_TRUE(lines_.empty());
}

}  // namespace
}  // namespace os::test
