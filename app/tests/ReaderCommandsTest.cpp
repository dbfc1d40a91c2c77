// The reader's console words for what the platform's touch commands answer: the open menu's cover
// is said as the menu, known by the view it is rather than by how it reads. And the commands end
// when whoever read the screens has gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <streambuf>
#include <string>

#include "app/main/ReaderCommands.h"
#include "news/shell/NQSideViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/views/Button.h"
#include "os/views/ViewController.h"
#include "os/views/Window.h"

namespace {

class ReaderCommandsTest : public newstest::ReaderFixture {
 protected:
  ReaderCommandsTest() : ReaderFixture({.screen = newstest::Screen::Window}) {}
};

TEST_F(ReaderCommandsTest, TheOpenMenuIsKnownByItsCoverNotByHowTheCoverReads) {
  auto centre = std::make_shared<os::ViewController>();
  showSide(centre, std::make_shared<os::ViewController>());
  auto target = os::makeView<os::Button>(os::Rect(10, 200, 40, 40));
  target->setTitle("目标", os::kControlStateNormal);
  int taps = 0;
  target->addTarget(nullptr, [&taps](os::Control&) { ++taps; }, os::kControlEventTouchUpInside);
  // The news is a screen of its own inside the centre, as the home screen is inside the navigation.
  auto news = std::make_shared<os::ViewController>();
  news->view()->setFrame(centre->view()->bounds());
  centre->view()->addSubview(news->view());
  news->view()->addSubview(target);
  std::ostringstream out;
  reader::ReaderCommands commands(out);

  side_->showLeftViewController(true);
  EXPECT_EQ(commands.run("tap 目标"), "error: \"目标\" is covered by the open menu: menu closes it");
  // Another clear button laid over the news while the menu is open reads as the cover does, but it
  // is not the menu, and the menu command would not take it away.
  auto other = os::makeView<os::Button>(window_->bounds());
  window_->addSubview(other);
  EXPECT_EQ(commands.run("tap 目标"), "error: \"目标\" is covered by Button");
  other->removeFromSuperview();

  EXPECT_EQ(commands.run("menu"), "");
  EXPECT_EQ(commands.run("tap 目标"), "");
  EXPECT_EQ(taps, 1);
  // With the menu shut, a clear button is just that.
  window_->addSubview(other);
  EXPECT_EQ(commands.run("tap 目标"), "error: \"目标\" is covered by Button");
  other->removeFromSuperview();
}

// The reader's output as a pipe gives it when the one reading takes the first screen and goes
// (`| head`, a script that was killed): what is written goes through until then, and every write
// and flush after it fails.
class ClosedAfterTheFirstScreen : public std::streambuf {
 public:
  const std::string& text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (gone_) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) text_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (gone_) return 0;
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int sync() override {
    if (gone_) return -1;
    // A screen is flushed whole; the reader takes it and closes its end.
    if (text_.find("=== screen ===") != std::string::npos) gone_ = true;
    return 0;
  }

 private:
  std::string text_;
  bool gone_ = false;
};

// Commands on an input that stays open, the one reading the screens gone after the first: the
// next thing written (the first command's echo or answer) fails, no command runs after that, and
// the commands end (as at `quit`) with 1, from a terminal and from a pipe alike. Without that end
// the tap would run and `quit` would end them well.
TEST_F(ReaderCommandsTest, TheCommandsEndWhenTheOutputHasClosed) {
  auto screen = std::make_shared<os::ViewController>();
  auto target = os::makeView<os::Button>(os::Rect(10, 200, 40, 40));
  target->setTitle("目标", os::kControlStateNormal);
  int taps = 0;
  target->addTarget(nullptr, [&taps](os::Control&) { ++taps; }, os::kControlEventTouchUpInside);
  screen->view()->addSubview(target);
  window_->setRootViewController(screen);
  os::TouchDriver::settle();

  for (bool interactive : {false, true}) {
    SCOPED_TRACE(interactive ? "from a terminal" : "from a pipe");
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const std::string lines = "tap 无此\ntap 目标\nquit\n";
    ASSERT_EQ(::write(input[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ClosedAfterTheFirstScreen pipe;
    std::ostream out(&pipe);
    reader::ReaderCommands commands(out);

    EXPECT_EQ(commands.runInput(interactive, input[0]), 1);
    EXPECT_TRUE(commands.outputClosed());
    EXPECT_EQ(taps, 0) << pipe.text();
    EXPECT_NE(pipe.text().find("=== screen ===\n"), std::string::npos) << pipe.text();
    ::close(input[0]);
    ::close(input[1]);
  }
}

}  // namespace
