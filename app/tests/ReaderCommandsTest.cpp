// The reader's console words for what the platform's touch commands answer: the open menu's cover
// is said as the menu, known by the view it is rather than by how it reads.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

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

}  // namespace
