#include <gtest/gtest.h>

#include <cmath>

#include "os/graphics/TextLayout.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NavigationBar.h"
#include "os/views/Switch.h"
#include "os/views/TableViewCell.h"
#include "os/graphics/RecordingContext.h"
#include "os/console/ScreenDump.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

std::shared_ptr<Image> blank(int w, int h, double scale, const std::string& name) {
  auto img = Image::create(Bitmap(w, h), scale);
  img->setName(name);
  return img;
}

TEST(ButtonStates, AStateWithoutItsOwnValueFallsBackToNormal) {
  Button b;
  b.setTitle("normal", kControlStateNormal);
  b.setTitle("chosen", kControlStateSelected);
  b.setImage(blank(2, 2, 1, "n"), kControlStateNormal);
  b.setImage(blank(2, 2, 1, "h"), kControlStateHighlighted);
  EXPECT_EQ(b.titleForState(kControlStateDisabled), "normal");
  EXPECT_EQ(b.titleForState(kControlStateSelected | kControlStateHighlighted), "chosen");
  b.setSelected(true);
  EXPECT_EQ(b.currentTitle(), "chosen");
  EXPECT_EQ(b.titleLabel()->text(), "chosen");
  EXPECT_EQ(b.currentImage()->name(), "n");
  b.setSelected(false);
  b.setHighlighted(true);
  EXPECT_EQ(b.currentImage()->name(), "h");
  EXPECT_EQ(b.imageView()->image()->name(), "h");
  b.setTitle(std::nullopt, kControlStateSelected);
  EXPECT_EQ(b.titleForState(kControlStateSelected), std::nullopt);
}

TEST(ButtonLayout, ImageAndTitleShareTheContentRectangle) {
  auto b = makeView<Button>(Rect(0, 0, 140, 45));
  b->setImage(blank(40, 20, 2, "digg"), kControlStateNormal);  // 20 x 10 points
  b->setTitle("12", kControlStateNormal);
  b->layoutIfNeeded();
  Size title = sizeWithFont("12", b->titleLabel()->font());
  double left = std::round((140 - 20 - title.width) / 2);
  EXPECT_EQ(b->imageView()->frame(), Rect(left, std::round((45 - 10) / 2.0), 20, 10));
  EXPECT_EQ(b->titleLabel()->frame().origin.x, left + 20);
  // An inset moves the image alone.
  b->setImageEdgeInsets(EdgeInsets{0, -20, 0, 0});
  b->layoutIfNeeded();
  EXPECT_EQ(b->imageView()->frame().origin.x, left - 20);
  EXPECT_EQ(b->titleLabel()->frame().origin.x, left + 20);
  // A title wider than the room is cut to it.
  b->setTitle("a very long title that cannot fit in the button at all", kControlStateNormal);
  b->layoutIfNeeded();
  EXPECT_LE(b->titleLabel()->frame().size.width, 120);
  EXPECT_EQ(b->sizeThatFits(Size{}).height, std::max(10.0, title.height));
}

TEST(ButtonActions, TargetsRunForTheirEventsInOrderAndCanBeRemoved) {
  Button b;
  std::vector<std::string> got;
  int owner = 0;
  b.addTarget(&owner, [&](Control&) { got.push_back("up"); }, kControlEventTouchUpInside);
  b.addTarget(nullptr, [&](Control&) { got.push_back("any"); }, kControlEventAllTouchEvents);
  b.sendActionsForControlEvents(kControlEventTouchUpInside);
  b.removeTarget(&owner, kControlEventTouchUpInside);
  b.sendActionsForControlEvents(kControlEventTouchUpInside);
  b.sendActionsForControlEvents(kControlEventValueChanged);
  EXPECT_EQ(got, (std::vector<std::string>{"up", "any", "any"}));
}

TEST(LabelText, SizesWithTheTextEngineAndCentresVertically) {
  Label label;
  label.setFont(Font::systemFont(15));
  label.setText("网络错误，点击重试");
  label.setFrame(Rect(0, 0, 10, 10));
  label.sizeToFit();
  EXPECT_EQ(label.frame(), Rect(0, 0, 9 * 15, std::ceil(15 * 1.2)));
  // Several lines within a width.
  Label multi(Rect(5, 5, 100, 200));
  multi.setNumberOfLines(0);
  multi.setFont(Font::systemFont(10));
  multi.setText("一二三四五六七八九十一二三四五");  // 15 ideographs, 10 per line
  Size s = multi.sizeThatFits(Size{100, 0});
  EXPECT_EQ(s, (Size{100, 24}));
  Rect text = multi.textRectForBounds(multi.bounds(), 0);
  EXPECT_EQ(text.origin.y, std::floor((200 - 24) / 2.0));
  multi.setNumberOfLines(1);
  EXPECT_EQ(multi.sizeThatFits(Size{100, 0}).width, 150);
  multi.setText("");
  EXPECT_EQ(multi.sizeThatFits(Size{100, 0}), (Size{0, 0}));
}

TEST(LabelText, DrawsItsTextInItsColour) {
  auto label = makeView<Label>(Rect(0, 0, 200, 40));
  label->setText("Corvessa");
  label->setTextColor(Color::red());
  label->display();
  ASSERT_TRUE(label->lastDrawing());
  EXPECT_EQ(label->lastDrawing()->drawnTexts(), std::vector<std::string>{"Corvessa"});
}

TEST(CellLayout, StylesPlaceTheirLabelsAndAccessoriesShrinkTheContent) {
  TableViewCell cell(TableViewCellStyle::Subtitle, "c");
  cell.setFrame(Rect(0, 0, 320, 60));
  cell.textLabel()->setText("title");
  cell.detailTextLabel()->setText("detail");
  cell.setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
  cell.layoutIfNeeded();
  EXPECT_EQ(cell.contentView()->frame(), Rect(0, 0, 320 - TableViewCell::kAccessoryWidth, 60));
  EXPECT_LT(cell.textLabel()->frame().maxY(), cell.detailTextLabel()->frame().maxY());
  EXPECT_EQ(cell.textLabel()->frame().maxY(), cell.detailTextLabel()->frame().minY());
  TableViewCell plain;
  EXPECT_EQ(plain.detailTextLabel(), nullptr);
  plain.setSelected(true);
  plain.setHighlighted(true);
  plain.prepareForReuse();
  EXPECT_FALSE(plain.isSelected());
  EXPECT_FALSE(plain.isHighlighted());
}

TEST(ImageAnimation, FramesFollowTheClock) {
  VirtualClockScope clock;
  ImageView view;
  view.setImage(blank(1, 1, 1, "still"));
  view.setAnimationImages({blank(1, 1, 1, "a"), blank(1, 1, 1, "b"), blank(1, 1, 1, "c")});
  view.setAnimationDuration(0.3);
  view.setAnimationRepeatCount(1);
  EXPECT_EQ(view.displayedImage()->name(), "still");
  view.startAnimating();
  EXPECT_EQ(view.displayedImage()->name(), "a");
  Clock::advance(0.15);
  EXPECT_EQ(view.displayedImage()->name(), "b");
  Clock::advance(0.2);  // one cycle done
  EXPECT_EQ(view.displayedImage()->name(), "still");
  view.stopAnimating();
  EXPECT_FALSE(view.isAnimating());
}

TEST(SmallControls, PageControlAndActivityIndicator) {
  PageControl pages;
  pages.setFrame(Rect(0, 0, 100, 36));
  pages.setNumberOfPages(3);
  pages.setCurrentPage(7);
  EXPECT_EQ(pages.currentPage(), 2);
  pages.setNumberOfPages(1);
  EXPECT_EQ(pages.currentPage(), 0);
  pages.setHidesForSinglePage(true);
  EXPECT_TRUE(pages.isHidden());
  pages.setNumberOfPages(4);
  EXPECT_FALSE(pages.isHidden());
  pages.setDefersCurrentPageDisplay(true);
  pages.setCurrentPage(3);
  EXPECT_EQ(pages.displayedPage(), 0);
  pages.updateCurrentPageDisplay();
  EXPECT_EQ(pages.displayedPage(), 3);

  ActivityIndicatorView spinner(ActivityIndicatorViewStyle::WhiteLarge);
  EXPECT_EQ(spinner.bounds().size, (Size{37, 37}));
  EXPECT_TRUE(spinner.isHidden());
  spinner.startAnimating();
  EXPECT_FALSE(spinner.isHidden());
  spinner.setHidesWhenStopped(false);
  spinner.stopAnimating();
  EXPECT_FALSE(spinner.isHidden());
}

class BarTest : public ScreenTest {};

TEST_F(BarTest, NavigationBarPlacesItemsWithFixedSpacesAndATitleView) {
  auto bar = makeView<NavigationBar>(Rect(0, 0, 320, 44));
  window->addSubview(bar);
  auto item = std::make_shared<NavigationItem>("home");
  auto menu = makeView<Button>(Rect(0, 0, 30, 30));
  item->setLeftBarButtonItems({BarButtonItem::fixedSpace(-8), BarButtonItem::withCustomView(menu)});
  auto titleView = makeView<ImageView>(Rect(0, 0, 100, 20));
  item->setTitleView(titleView);
  int pressed = 0;
  item->setRightBarButtonItem(BarButtonItem::withTitle("Send", BarButtonItemStyle::Plain, [&](BarButtonItem&) { ++pressed; }));
  bar->pushNavigationItem(item);
  TouchDriver::settle();
  EXPECT_EQ(menu->frame(), Rect(5 - 8, 7, 30, 30));
  EXPECT_EQ(titleView->frame(), Rect(110, 12, 100, 20));
  EXPECT_EQ(bar->backButton(), nullptr);
  // The right item's button sits against the right edge and runs the item's action.
  std::shared_ptr<View> right;
  for (auto& v : bar->subviews()) {
    if (v != menu && v != titleView) right = v;
  }
  ASSERT_TRUE(right);
  EXPECT_EQ(right->frame().maxX(), 315);
  TouchDriver::tap(*right);
  EXPECT_EQ(pressed, 1);
  // Changing the item's title lays the bar out again.
  item->setTitleView(nullptr);
  item->setTitle("news");
  TouchDriver::settle();
  EXPECT_NE(dumpView(*bar).find("text=\"news\""), std::string::npos);
}

TEST_F(BarTest, ToolbarSharesTheRoomLeftAmongFlexibleSpaces) {
  auto bar = makeView<Toolbar>(Rect(0, 0, 320, 44));
  window->addSubview(bar);
  auto a = makeView<View>(Rect(0, 0, 40, 30)), b = makeView<View>(Rect(0, 0, 40, 30));
  auto flex = [] { return BarButtonItem::withSystemItem(BarButtonSystemItem::FlexibleSpace); };
  bar->setItems({flex(), BarButtonItem::withCustomView(a), flex(), BarButtonItem::withCustomView(b), flex()});
  TouchDriver::settle();
  // 320 - 2×12 margins - 80 items - 10 spacing = 206, a third each.
  double share = (320.0 - 24 - 80 - 10) / 3;
  EXPECT_NEAR(a->frame().origin.x, 12 + share, 1e-9);
  EXPECT_NEAR(b->frame().origin.x, 12 + 2 * share + 40 + 10, 1e-9);
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

class TouchAreaTest : public ScreenTest {};

TEST_F(TouchAreaTest, MarginsEnlargeWhereAControlTakesTouches) {
  auto holder = makeView<View>(Rect(0, 0, 320, 200));
  window->addSubview(holder);
  auto button = makeView<Button>(Rect(100, 100, 40, 20));
  holder->addSubview(button);
  int taps = 0;
  button->addTarget(nullptr, [&](Control&) { ++taps; }, kControlEventTouchUpInside);
  TouchDriver::tap(Point{97, 97});
  EXPECT_EQ(taps, 0);
  button->setTouchAreaMargins(EdgeInsets{5, 5, 5, 5});
  EXPECT_EQ(button->touchArea(), Rect(-5, -5, 50, 30));
  EXPECT_TRUE(TouchDriver::tap(Point{97, 97}));
  TouchDriver::tap(Point{144, 124});
  EXPECT_EQ(taps, 2);
  TouchDriver::tap(Point{146, 126});
  EXPECT_EQ(taps, 2);
  // Hidden, it takes nothing even in its margins.
  button->setHidden(true);
  TouchDriver::tap(Point{97, 97});
  EXPECT_EQ(taps, 2);
}

}  // namespace
}  // namespace os::test
