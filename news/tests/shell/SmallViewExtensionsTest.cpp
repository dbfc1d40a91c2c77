#include <gtest/gtest.h>

#include <memory>

#include "news/settings/UICommonTextView.h"
#include "news/shell/ButtonEnlargeArea.h"
#include "news/shell/CellSuperview.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/graphics/RecordingContext.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/views/TableView.h"
#include "os/views/TableViewCell.h"
#include "os/views/Window.h"

namespace {

using os::TouchDriver;

class ViewExtensionsTest : public newstest::ReaderFixture {
 protected:
  ViewExtensionsTest() : ReaderFixture({.screen = newstest::Screen::Window}) {}
};

TEST_F(ViewExtensionsTest, AnEnlargedButtonTakesTouchesAroundItsFrame) {
  auto button = os::makeView<os::Button>(os::Rect(100, 100, 40, 20));
  int taps = 0;
  button->addTarget(nullptr, [&](os::Control&) { ++taps; }, os::kControlEventTouchUpInside);
  window_->addSubview(button);

  EXPECT_EQ(enlargedRect(*button), button->bounds());
  TouchDriver::tap(os::Point{97, 97});
  EXPECT_EQ(taps, 0);

  setEnlargeEdge(*button, 5);
  EXPECT_EQ(enlargedRect(*button), os::Rect(-5, -5, 50, 30));
  // Corners of the 50 x 30 rectangle take the touch; a point just outside does not.
  for (os::Point p : {os::Point{95, 95}, os::Point{144.5, 124.5}, os::Point{120, 95}}) {
    TouchDriver::tap(p);
  }
  EXPECT_EQ(taps, 3);
  TouchDriver::tap(os::Point{94, 110});
  TouchDriver::tap(os::Point{120, 125.5});
  EXPECT_EQ(taps, 3);

  setEnlargeEdgeWithTop(*button, 1, 2, 3, 4);
  EXPECT_EQ(enlargedRect(*button), os::Rect(-4, -1, 46, 24));
  // Hidden, it takes nothing even in its enlarged area.
  button->setHidden(true);
  TouchDriver::tap(os::Point{97, 100});
  EXPECT_EQ(taps, 3);
}

TEST_F(ViewExtensionsTest, ACellFindsItsTableThroughAnyViewsBetween) {
  auto table = os::makeView<os::TableView>(os::Rect(0, 0, 320, 400));
  auto cell = std::make_shared<os::TableViewCell>();
  EXPECT_EQ(superviewOfCell(*cell), nullptr);
  table->addSubview(cell);
  EXPECT_EQ(superviewOfCell(*cell), table);
  auto wrapper = std::make_shared<os::View>();
  table->addSubview(wrapper);
  wrapper->addSubview(cell);
  EXPECT_EQ(superviewOfCell(*cell), table);
}

TEST_F(ViewExtensionsTest, ThePlaceholderShowsOnlyWhileTheTextIsEmpty) {
  auto view = os::makeView<UICommonTextView>(os::Rect(10, 10, 300, 120));
  auto other = os::makeView<UICommonTextView>(os::Rect(10, 200, 300, 100));
  window_->addSubview(view);
  window_->addSubview(other);
  EXPECT_FALSE(view->shouldDrawPlaceholder());
  view->setPlaceholder("请输入您的意见");
  other->setPlaceholder("hint");
  view->displayIfNeeded();
  EXPECT_EQ(view->lastDrawing()->drawnTexts(), std::vector<std::string>{"请输入您的意见"});

  ASSERT_TRUE(TouchDriver::typeText(*view, "a"));
  EXPECT_FALSE(view->shouldDrawPlaceholder());
  EXPECT_TRUE(other->shouldDrawPlaceholder());  // another view's typing is not its own
  view->displayIfNeeded();
  EXPECT_EQ(view->lastDrawing()->drawnTexts(), std::vector<std::string>{"a"});
  view->deleteBackward();
  EXPECT_TRUE(view->shouldDrawPlaceholder());
  view->setText("from code");
  EXPECT_FALSE(view->shouldDrawPlaceholder());
  view->setText("");
  EXPECT_TRUE(view->shouldDrawPlaceholder());
  view->setPlaceholderColor(std::nullopt);
  view->updateShouldDrawPlaceholder();
  EXPECT_FALSE(view->shouldDrawPlaceholder());

  // A view that is gone hears nothing more.
  other->removeFromSuperview();
  other.reset();
  ASSERT_TRUE(TouchDriver::typeText(*view, "y"));
}

}  // namespace
