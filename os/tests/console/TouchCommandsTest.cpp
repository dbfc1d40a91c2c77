#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/console/ScreenDump.h"
#include "os/console/ScreenSettle.h"
#include "os/console/TouchCommands.h"
#include "os/net/URLConnection.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Timer.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/Waits.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"
#include "os/views/ViewController.h"
#include "os/views/WebView.h"
#include "os/tests/views/ViewsTestSupport.h"

namespace os::test {
namespace {

// Two sections of `rows` rows; remembers what was selected and how far it was dragged.
struct Sections : TableViewDataSource, TableViewDelegate {
  long rows = 3;
  std::vector<IndexPath> selected;
  double lowest = 0;
  long numberOfSectionsInTableView(TableView&) override { return 2; }
  long numberOfRowsInSection(TableView&, long) override { return rows; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
    cell->textLabel()->setText(format("%ld-%ld", ip.section, ip.row));
    return cell;
  }
  void didSelectRowAtIndexPath(TableView&, const IndexPath& ip) override { selected.push_back(ip); }
  void scrollViewDidScroll(ScrollView& s) override { lowest = std::min(lowest, s.contentOffset().y); }
};

class TouchCommandsTest : public ScreenTest {
 protected:
  std::shared_ptr<Button> button(const std::string& title, Rect frame) {
    auto b = makeView<Button>(frame);
    if (!title.empty()) b->setTitle(title, kControlStateNormal);
    b->addTarget(nullptr, [this, title](Control&) { pressed.push_back(title); }, kControlEventTouchUpInside);
    window->addSubview(b);
    return b;
  }
  // What a progress HUD is on screen: a view over the whole window, keeping touch handling on, that
  // shows one line of text.
  std::shared_ptr<View> hud(const std::string& text) {
    auto cover = makeView<View>(Rect(0, 0, 320, 480));
    auto note = makeView<Label>(Rect(100, 200, 120, 20));
    note->setText(text);
    cover->addSubview(note);
    window->addSubview(cover);
    return cover;
  }
  // A pager of two pages side by side, a list on each (the home screen's shape).
  void pages(long rows) {
    pager = makeView<ScrollView>(Rect(0, 20, 320, 460));
    pager->setPagingEnabled(true);
    pager->setContentSize(Size{640, 460});
    window->addSubview(pager);
    for (int i = 0; i < 2; ++i) {
      lists[i] = std::make_shared<Sections>();
      lists[i]->rows = rows;
      tables[i] = makeView<TableView>(Rect(320 * i, 0, 320, 460), TableViewStyle::Plain);
      tables[i]->setDataSource(lists[i]);
      tables[i]->setDelegate(lists[i]);
      pager->addSubview(tables[i]);
    }
  }
  std::vector<std::string> pressed;
  std::shared_ptr<ScrollView> pager;
  std::shared_ptr<Sections> lists[2];
  std::shared_ptr<TableView> tables[2];
};

TEST_F(TouchCommandsTest, TapByTextFindsWhatAReaderSees) {
  button("设置", Rect(10, 300, 100, 40));
  auto back = button("", Rect(200, 300, 40, 40));
  auto arrow = Image::create(Bitmap(2, 2), 2);
  arrow->setName("navbar-back");
  back->setImage(arrow, kControlStateNormal);
  // The same text scrolled out of its clipping view, in front of the button in drawing order.
  auto scroll = makeView<ScrollView>(Rect(0, 0, 320, 200));
  scroll->setContentSize(Size{320, 1000});
  auto hidden = makeView<Label>(Rect(0, 600, 100, 20));
  hidden->setText("设置");
  scroll->addSubview(hidden);
  window->addSubview(scroll);

  EXPECT_EQ(runTouchCommand("tap 设置"), "");
  EXPECT_EQ(runTouchCommand("tap \"设\""), "");
  EXPECT_EQ(runTouchCommand("tap navbar-back"), "");
  // Pressed, a button's picture is named for it and still found by the plain name.
  arrow->setName("navbar-back_press");
  EXPECT_EQ(runTouchCommand("tap navbar-back"), "");
  EXPECT_EQ(pressed, (std::vector<std::string>{"设置", "设置", "", ""}));
  EXPECT_EQ(runTouchCommand("tap 关于"), "error: nothing on screen reads \"关于\"");
}

TEST_F(TouchCommandsTest, WholeTextsWinAndAPartMustBelongToOneText) {
  button("中国军情", Rect(0, 20, 100, 34));
  button("国际军情", Rect(100, 20, 100, 34));
  button("要闻", Rect(200, 20, 100, 34));
  EXPECT_EQ(runTouchCommand("tap 军情"),
            "error: \"军情\" is part of 2 texts: \"中国军情\", \"国际军情\"; tap one of them whole");
  EXPECT_EQ(runTouchCommand("tap 国际"), "");
  EXPECT_EQ(runTouchCommand("tap 要"), "");
  // Half a character is no text of anything, even though its bytes begin three titles.
  EXPECT_EQ(runTouchCommand("tap \xe5\x9b"), "error: \"\\xE5\\x9B\" is not whole characters (UTF-8)");
  EXPECT_EQ(pressed, (std::vector<std::string>{"国际军情", "要闻"}));
  // A title that reads the words whole wins over those that hold them.
  button("军情", Rect(0, 100, 100, 34));
  EXPECT_EQ(runTouchCommand("tap 军情"), "");
  EXPECT_EQ(pressed.back(), "军情");
}

TEST_F(TouchCommandsTest, AWebPagesTextTakesNoTapAndSaysSo) {
  // A sign-in page over a screen whose button the reader meant: its paragraph holds the words.
  auto page = makeView<WebView>(Rect(0, 0, 320, 480));
  window->addSubview(page);
  page->loadHTMLString("<p>授权后可分享到微博</p><form action=\"/go\"><input type=\"submit\" value=\"登录\"></form>");
  TouchDriver::settle();
  EXPECT_EQ(runTouchCommand("tap 分享"),
            "error: \"分享\" is text of the web page on screen, which takes no tap: tap a field or button of it");
  // Its button still takes a tap by its text.
  bool sent = false;
  struct Watch : WebViewDelegate {
    bool* sent;
    explicit Watch(bool* s) : sent(s) {}
    bool shouldStartLoadWithRequest(WebView&, const URLRequest&, WebViewNavigationType type) override {
      if (type == WebViewNavigationType::FormSubmitted) *sent = true;
      return false;
    }
  };
  auto watch = std::make_shared<Watch>(&sent);
  page->setDelegate(watch);
  EXPECT_EQ(runTouchCommand("tap 登录"), "");
  EXPECT_TRUE(sent);
}

TEST_F(TouchCommandsTest, AButtonShowingOnlyAPictureIsTappedByItsLabel) {
  auto picture = [](const std::string& name) {
    auto image = Image::create(Bitmap(2, 2), 2);
    image->setName(name);
    return image;
  };
  auto favourite = button("", Rect(0, 400, 80, 39));
  favourite->setImage(picture("detail_toolbar_favorite"), kControlStateNormal);
  favourite->setImage(picture("detail_toolbar_favorite_selected"), kControlStateSelected);
  favourite->setAccessibilityLabel("收藏");
  EXPECT_NE(dumpScreen().find("image=detail_toolbar_favorite label=\"收藏\""), std::string::npos);
  EXPECT_EQ(runTouchCommand("tap 收藏"), "");
  // Selected, it shows another picture but means the same.
  favourite->setSelected(true);
  EXPECT_NE(dumpScreen().find("image=detail_toolbar_favorite_selected selected label=\"收藏\""), std::string::npos);
  EXPECT_EQ(runTouchCommand("tap 收藏"), "");
  EXPECT_EQ(pressed.size(), 2u);
}

TEST_F(TouchCommandsTest, AlertButtonsAreNumberedAsTheDumpPrintsThem) {
  struct Clicks : AlertViewDelegate {
    std::vector<long> clicked;
    void clickedButtonAtIndex(AlertView&, long index) override { clicked.push_back(index); }
  };
  auto clicks = std::make_shared<Clicks>();
  EXPECT_EQ(runTouchCommand("alert 1"), "error: no alert on screen");
  auto alert = std::make_shared<AlertView>("", "检测到新的版本", clicks, "以后再说", std::vector<std::string>{"升级"});
  alert->show();
  TouchDriver::settle();
  std::string dump = dumpScreen();
  EXPECT_NE(dump.find("title=\"以后再说\" tag=1"), std::string::npos);
  EXPECT_NE(dump.find("title=\"升级\" tag=2"), std::string::npos);
  for (const char* wrong : {"alert 0", "alert 3", "alert -1"})
    EXPECT_EQ(runTouchCommand(wrong), "error: the alert's buttons are 1 to 2 (their tags)") << wrong;
  EXPECT_EQ(runTouchCommand("alert 2 1"), "error: alert takes N or \"TITLE\" and nothing more");
  EXPECT_EQ(runTouchCommand("alert \"更新\""), "error: the alert has no button \"更新\"");
  EXPECT_TRUE(clicks->clicked.empty());
  EXPECT_EQ(runTouchCommand("alert 2"), "");
  EXPECT_EQ(clicks->clicked, (std::vector<long>{1}));
}

TEST_F(TouchCommandsTest, ALabelTapGoesToTheClearButtonItsScreenLaysOverIt) {
  // The shape of a list's error view: a picture, a "tap to retry" label and a clear button over
  // all of it.
  auto error = makeView<View>(Rect(0, 60, 320, 400));
  auto note = makeView<Label>(Rect(90, 200, 140, 20));
  note->setText("网络错误，点击重试");
  error->addSubview(note);
  window->addSubview(error);
  int retries = 0;
  auto retry = makeView<Button>(error->bounds());
  retry->addTarget(nullptr, [&](Control&) { ++retries; }, kControlEventTouchUpInside);
  error->addSubview(retry);
  EXPECT_EQ(runTouchCommand("tap 网络错误，点击重试"), "");
  EXPECT_TRUE(TouchDriver::tapText("点击重试"));
  EXPECT_EQ(retries, 2);
  // A control from elsewhere (a screen slid over this one) does not act for it.
  auto screen = std::make_shared<ViewController>();
  screen->view()->setFrame(Rect(0, 0, 320, 480));
  screen->view()->addSubview(error);
  window->addSubview(screen->view());
  auto over = makeView<Button>(Rect(0, 0, 320, 480));
  over->addTarget(nullptr, [&](Control&) { ++retries; }, kControlEventTouchUpInside);
  window->addSubview(over);
  EXPECT_EQ(runTouchCommand("tap 网络错误，点击重试"), "error: \"网络错误，点击重试\" is covered by Button");
  EXPECT_EQ(retries, 2);
}

TEST_F(TouchCommandsTest, WordsACommandDoesNotTakeAreRefused) {
  pages(20);
  const double before = Clock::now();
  EXPECT_EQ(runTouchCommand("wait 1 2"), "error: wait takes SECONDS and nothing more");
  EXPECT_EQ(Clock::now(), before);
  EXPECT_EQ(runTouchCommand("drag 160 400 160 200 9"), "error: drag takes X1 Y1 X2 Y2 and nothing more");
  EXPECT_EQ(runTouchCommand("doubletap 1 2 3"), "error: doubletap takes X Y and nothing more");
  EXPECT_EQ(runTouchCommand("pull harder"), "error: pull takes nothing more");
  EXPECT_EQ(runTouchCommand("scroll end now"), "error: scroll takes \"end\" and nothing more");
  EXPECT_EQ(runTouchCommand("dump all"), "error: dump takes nothing more");
  EXPECT_EQ(runTouchCommand("return twice"), "error: return takes nothing more");
  EXPECT_EQ(tables[0]->contentOffset(), (Point{0, 0}));
  EXPECT_TRUE(lists[0]->selected.empty());
  // What the reader typed comes back escaped, so a stray control byte cannot drive the terminal.
  EXPECT_EQ(runTouchCommand("fly\x1b[2J"), "error: unknown command \"fly\\x1B[2J\"");
  EXPECT_EQ(runTouchCommand("tap \x07 ring"), "error: nothing on screen reads \"\\x07 ring\"");
}

TEST_F(TouchCommandsTest, AVisibleCoverTakesTheTapsUntilItFades) {
  button("确定", Rect(10, 300, 100, 40));
  auto cover = hud("网络异常");
  EXPECT_EQ(runTouchCommand("tap 确定"), "error: \"确定\" is covered by View \"网络异常\"");
  EXPECT_TRUE(TouchDriver::tap(Point{50, 320}));
  // Still there while it fades out, gone from touches once transparent.
  cover->setAlpha(0.02);
  EXPECT_FALSE(TouchDriver::tapText("确定"));
  EXPECT_TRUE(pressed.empty());
  cover->setAlpha(0);
  EXPECT_EQ(runTouchCommand("tap 确定"), "");
  EXPECT_EQ(pressed.size(), 1u);
}

TEST_F(TouchCommandsTest, TapRowCountsThroughTheSectionsOfTheListOnScreen) {
  pages(3);
  EXPECT_EQ(runTouchCommand("tap row 4"), "");
  EXPECT_EQ(lists[0]->selected, (std::vector<IndexPath>{IndexPath::forRow(1, 1)}));
  EXPECT_TRUE(lists[1]->selected.empty());
  EXPECT_EQ(runTouchCommand("tap row 6"), "error: no row 6");
  // Once the pager shows the second page, that list is the one meant.
  pager->setContentOffset(Point{320, 0});
  EXPECT_EQ(runTouchCommand("TAP ROW 0"), "");
  EXPECT_EQ(lists[1]->selected, (std::vector<IndexPath>{IndexPath::forRow(0, 0)}));
  // A quoted text is a text even when it reads like a row.
  EXPECT_EQ(runTouchCommand("tap \"row 1\""), "error: nothing on screen reads \"row 1\"");
}

TEST_F(TouchCommandsTest, PullAndScrollEndDriveTheListOnScreen) {
  EXPECT_EQ(runTouchCommand("pull"), "error: nothing on screen to pull");
  pages(20);
  EXPECT_EQ(runTouchCommand("pull"), "");
  EXPECT_LE(lists[0]->lowest, -TouchDriver::kPullDistance);
  EXPECT_EQ(runTouchCommand("scroll end"), "");
  EXPECT_EQ(tables[0]->contentOffset().y, tables[0]->maximumContentOffset().y);
  EXPECT_EQ(tables[1]->contentOffset(), (Point{0, 0}));
  EXPECT_EQ(pager->contentOffset(), (Point{0, 0}));
  EXPECT_EQ(runTouchCommand("scroll up"), "error: scroll needs \"end\"");
}

TEST_F(TouchCommandsTest, AWatcherReportsOnlyChanges) {
  auto label = makeView<Label>(Rect(0, 100, 320, 20));
  label->setText("加载中...");
  window->addSubview(label);
  ScreenWatcher watcher;
  auto first = watcher.changedDump();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, dumpScreen());
  EXPECT_FALSE(watcher.changedDump());
  label->setText("下拉刷新");
  auto second = watcher.changedDump();
  ASSERT_TRUE(second);
  EXPECT_NE(second->find("下拉刷新"), std::string::npos);
  EXPECT_NE(screenFingerprint(*first), screenFingerprint(*second));
  EXPECT_FALSE(watcher.changedDump());
}

TEST_F(TouchCommandsTest, ATabPastTheEdgeOfItsStripIsScrolledIntoViewThenTapped) {
  auto strip = makeView<ScrollView>(Rect(0, 20, 320, 34));
  strip->setContentSize(Size{1000, 34});
  window->addSubview(strip);
  for (int i = 0; i < 10; ++i) {
    std::string title = "tab" + std::to_string(i);
    auto b = makeView<Button>(Rect(100 * i, 0, 100, 34));
    b->setTitle(title, kControlStateNormal);
    b->addTarget(nullptr, [this, title](Control&) { pressed.push_back(title); }, kControlEventTouchUpInside);
    strip->addSubview(b);
  }
  EXPECT_EQ(runTouchCommand("tap tab8"), "");
  EXPECT_EQ(pressed, (std::vector<std::string>{"tab8"}));
  // Dragged just far enough to show all of it, not flung to the end.
  EXPECT_NEAR(strip->contentOffset().x, 580, 0.5);
  EXPECT_EQ(runTouchCommand("tap tab0"), "");
  EXPECT_EQ(pressed.back(), "tab0");
  EXPECT_NEAR(strip->contentOffset().x, 0, 0.5);
  EXPECT_EQ(runTouchCommand("tap tab10"), "error: nothing on screen reads \"tab10\"");
}

TEST_F(TouchCommandsTest, ATabPastTheEdgeOfAStripUnderACoverIsSaidToBeCovered) {
  // A menu slid in from the side: the screen's tab strip mostly off the window, under the clear
  // button that closes the menu when tapped.
  auto strip = makeView<ScrollView>(Rect(260, 20, 320, 34));
  strip->setContentSize(Size{1000, 34});
  window->addSubview(strip);
  for (int i = 0; i < 10; ++i) {
    auto b = makeView<Button>(Rect(100 * i, 0, 100, 34));
    b->setTitle("tab" + std::to_string(i), kControlStateNormal);
    strip->addSubview(b);
  }
  auto cover = button("", Rect(260, 0, 320, 480));
  EXPECT_EQ(runTouchCommand("tap tab8"), "error: \"tab8\" is covered by Button");
  EXPECT_EQ(strip->contentOffset().x, 0);
  EXPECT_TRUE(pressed.empty());
}

// A refusal says which view is in the way, not only what it reads, so a caller that owns that view
// (a menu's clear cover) can say so in its own words, however the view reads.
TEST_F(TouchCommandsTest, ARefusedTouchGivesTheViewInTheWay) {
  button("确定", Rect(10, 300, 100, 40));
  auto shown = hud("网络异常");
  TouchAnswer answer = answerTouchCommand("tap 确定");
  EXPECT_EQ(answer.text, "error: \"确定\" is covered by View \"网络异常\"");
  // The outermost view over the target, not the label the touch lands on.
  EXPECT_EQ(answer.cover, shown);
  EXPECT_EQ(answer.target, "\"确定\"");
  shown->removeFromSuperview();

  // Two clear buttons read alike; the answers tell them apart.
  pages(3);
  auto first = button("", Rect(0, 0, 320, 480));
  answer = answerTouchCommand("tap row 0");
  EXPECT_EQ(answer.text, "error: the list is covered by Button");
  EXPECT_EQ(answer.cover, first);
  EXPECT_EQ(answer.target, "the list");
  auto second = button("", Rect(0, 0, 320, 480));
  for (const char* command : {"pull", "scroll end"}) {
    answer = answerTouchCommand(command);
    EXPECT_EQ(answer.text, "error: the list is covered by Button") << command;
    EXPECT_EQ(answer.cover, second) << command;
  }
  EXPECT_EQ(runTouchCommand("pull"), "error: the list is covered by Button");

  // A touch that went through, or was refused for another reason, names none.
  first->removeFromSuperview();
  second->removeFromSuperview();
  answer = answerTouchCommand("tap row 0");
  EXPECT_EQ(answer.text, "");
  EXPECT_EQ(answer.cover, nullptr);
  EXPECT_EQ(answerTouchCommand("tap 无此文字").cover, nullptr);
  EXPECT_TRUE(pressed.empty());
}

// Between the main loop's timers nothing the wait looks at can change: the clock goes from one
// to the next (an animation's end is one), not on in small steps, and each fires at its moment.
TEST_F(TouchCommandsTest, WaitingForAnAnimationMovesTheClockFromTimerToTimer) {
  const double start = Clock::now();
  std::vector<double> fired;
  auto timer = Timer::scheduled(*RunLoop::main(), 0.1, false, [&](Timer&) { fired.push_back(Clock::now() - start); });
  View::animate(0.3, 0, kViewAnimationOptionNone, [] {}, [&](bool) { fired.push_back(Clock::now() - start); });
  int moves = 0;
  const int token = Clock::addAdvanceListener([&moves] { ++moves; });
  EXPECT_TRUE(waitForAnimations());
  Clock::removeAdvanceListener(token);
  EXPECT_EQ(moves, 2);
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_NEAR(fired[0], 0.1, 1e-6);
  EXPECT_NEAR(fired[1], 0.3, 1e-6);

  // One that outlasts the limit: the clock goes to the limit at once, and the wait says so.
  View::animate(2, 0, kViewAnimationOptionNone, [] {}, {});
  moves = 0;
  const int again = Clock::addAdvanceListener([&moves] { ++moves; });
  EXPECT_FALSE(waitForAnimations(0.5));
  Clock::removeAdvanceListener(again);
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(View::animationsUnderWay(), 1u);
  EXPECT_TRUE(waitForAnimations());
}

TEST_F(TouchCommandsTest, ATouchWaitsForTheCoverSlidingAwayToGo) {
  button("清理缓存", Rect(10, 300, 200, 40));
  // A full-screen cover that leaves when its slide ends, as a menu closing does.
  auto cover = button("", Rect(0, 0, 320, 480));
  View::animate(0.35, 0, kViewAnimationOptionNone, [] {}, [cover](bool) { cover->removeFromSuperview(); });
  EXPECT_EQ(View::animationsUnderWay(), 1u);
  EXPECT_EQ(runTouchCommand("tap 清理缓存"), "");
  EXPECT_EQ(pressed, (std::vector<std::string>{"清理缓存"}));
  EXPECT_EQ(View::animationsUnderWay(), 0u);
  // What only looks does not wait: the screen is printed as it is.
  View::animate(0.35, 0, kViewAnimationOptionNone, [] {}, [](bool) {});
  EXPECT_NE(runTouchCommand("dump").find("清理缓存"), std::string::npos);
  EXPECT_EQ(View::animationsUnderWay(), 1u);
  EXPECT_TRUE(waitForAnimations());
  EXPECT_EQ(View::animationsUnderWay(), 0u);
}

TEST_F(TouchCommandsTest, ADragMovesByTheDistanceDraggedAndOnlyAFlickRunsOn) {
  auto list = makeView<ScrollView>(Rect(0, 20, 320, 460));
  list->setContentSize(Size{320, 5000});
  window->addSubview(list);
  EXPECT_EQ(runTouchCommand("drag 160 400 160 200"), "");
  EXPECT_NEAR(list->contentOffset().y, 200, 0.5);
  EXPECT_EQ(runTouchCommand("flick 160 400 160 200"), "");
  EXPECT_GT(list->contentOffset().y, 600);
  EXPECT_EQ(runTouchCommand("flick 1 2"), "error: flick needs X1 Y1 X2 Y2");
}

TEST_F(TouchCommandsTest, SettlingWaitsForShortLivedMessagesToGo) {
  button("确定", Rect(10, 300, 100, 40));
  // A toast over the button for a second: longer than the screen takes to look quiet.
  auto toast = makeView<View>(Rect(0, 250, 320, 120));
  toast->setTag(77);
  auto text = makeView<Label>(Rect(10, 10, 200, 20));
  text->setText("分享成功");
  toast->addSubview(text);
  window->addSubview(toast);
  auto timer = Timer::scheduled(1.0, false, [toast](Timer&) { toast->removeFromSuperview(); });

  SettleOptions o;
  o.isTransient = [](const View& v) { return v.tag() == 77; };
  // The screens shown while it waited, each once.
  std::vector<std::string> shown;
  o.onChange = [&] {
    if (std::string dump = dumpScreen(); shown.empty() || shown.back() != dump) shown.push_back(dump);
  };
  double before = Clock::now();
  SettleResult r = settleScreen(o);
  EXPECT_TRUE(r.atRest);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"分享成功"}));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("text=\"分享成功\""), std::string::npos);
  EXPECT_GE(Clock::now(), before + 1.0);
  EXPECT_EQ(toast->superview(), nullptr);
  EXPECT_EQ(runTouchCommand("tap 确定"), "");
  EXPECT_EQ(pressed.size(), 1u);

  // One that stays is waited for only so long.
  window->addSubview(toast);
  o.limit = 2;
  r = settleScreen(o);
  EXPECT_FALSE(r.atRest);
  EXPECT_EQ(runTouchCommand("tap 确定"), "error: \"确定\" is covered by View \"分享成功\"");
}

// A cover with a cancel button over a long job is a screen a person acts on, not a message to
// wait out: the screen is at rest while it shows, whatever runs beneath; one that holds no
// control it offers (a toast that is itself a button a touch hides) still goes by first.
TEST_F(TouchCommandsTest, AMessageOfferingAControlIsAScreenToActOn) {
  auto cover = makeView<View>(Rect(0, 0, 320, 480));
  cover->setTag(77);
  auto percent = makeView<Label>(Rect(0, 240, 320, 20));
  percent->setText("正在下载3%");
  cover->addSubview(percent);
  auto cancel = makeView<Button>(Rect(95, 290, 130, 40));
  cancel->setTitle("取消下载", kControlStateNormal);
  bool cancelled = false;
  cancel->addTarget(nullptr, [&](Control&) { cancelled = true; }, kControlEventTouchUpInside);
  cover->addSubview(cancel);
  window->addSubview(cover);
  // The job beneath ticks on as the command's own timer.
  auto progress = Timer::scheduled(0.5, true, [percent](Timer&) { percent->setText("正在下载4%"); });

  SettleOptions o;
  o.isTransient = [](const View& v) { return v.tag() == 77; };
  int looks = 0;
  o.onChange = [&looks] { ++looks; };
  const double before = Clock::now();
  SettleResult r = settleScreen(o);
  EXPECT_TRUE(r.atRest);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(Clock::now(), before);
  EXPECT_EQ(looks, 0);
  EXPECT_EQ(runTouchCommand("tap 取消下载"), "");
  EXPECT_TRUE(cancelled);

  // Its button out of reach (disabled), it is a message again and is waited for.
  cancel->setEnabled(false);
  o.limit = 1;
  r = settleScreen(o);
  EXPECT_FALSE(r.atRest);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].rfind("正在下载", 0), 0u) << r.messages[0];
  progress->invalidate();
  cover->removeFromSuperview();

  // A toast that is a button itself offers nothing: it goes by before the screen rests.
  auto toast = makeView<Button>(Rect(60, 200, 200, 40));
  toast->setTag(77);
  auto words = makeView<Label>(Rect(10, 10, 180, 20));
  words->setText("分享成功");
  toast->addSubview(words);
  window->addSubview(toast);
  auto hide = Timer::scheduled(1.0, false, [toast](Timer&) { toast->removeFromSuperview(); });
  EXPECT_FALSE(offersControl(*toast));
  o.limit = 8;
  r = settleScreen(o);
  EXPECT_TRUE(r.atRest);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"分享成功"}));
  EXPECT_EQ(toast->superview(), nullptr);
}

TEST_F(TouchCommandsTest, AScreenAtRestAnswersAtOnceAndAnAnimationAboutToEndIsWaitedFor) {
  button("确定", Rect(10, 300, 100, 40));
  SettleOptions o;
  o.isTransient = [](const View& v) { return v.tag() == 77; };
  double before = Clock::now();
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_EQ(Clock::now(), before);

  // An animation's end is a timer about to fire: the screen is still moving until it has.
  bool ended = false;
  auto timer = Timer::scheduled(0.3, false, [&ended](Timer&) { ended = true; });
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_TRUE(ended);
  // One far off (a heartbeat) is no movement of the screen.
  before = Clock::now();
  auto heartbeat = Timer::scheduled(290, false, [](Timer&) {});
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_EQ(Clock::now(), before);
  heartbeat->invalidate();

  // What keeps moving past the limit is named.
  auto ticking = Timer::scheduled(0.2, true, [](Timer&) {});
  o.limit = 1;
  SettleResult r = settleScreen(o);
  EXPECT_FALSE(r.atRest);
  ASSERT_EQ(r.pending.size(), 1u);
  EXPECT_EQ(r.pending[0].rfind("a timer due in", 0), 0u) << r.pending[0];
  ticking->invalidate();
}

// Counts down as the share editor does, from its view's length.
struct Counter : TextViewDelegate {
  std::shared_ptr<Label> label;
  std::size_t changes = 0;
  void textViewDidChange(TextView& view) override {
    ++changes;
    label->setText(std::to_string(140 - static_cast<long>(view.textLength())));
  }
};

TEST_F(TouchCommandsTest, TypingAMegabyteEndsAndATextNoFieldHoldsIsRefused) {
  // Each character typed once cost the length of the text so far (copying, counting, the
  // counter recounting it): a megabyte ran for minutes.
  auto view = makeView<TextView>(Rect(10, 40, 300, 120));
  auto counter = std::make_shared<Counter>();
  counter->label = makeView<Label>(Rect(10, 170, 60, 20));
  view->setDelegate(counter);
  window->addSubview(view);
  window->addSubview(counter->label);
  std::string text;
  for (std::size_t i = 0; text.size() < (std::size_t{1} << 20); ++i) text += i % 7 == 6 ? "军 " : "ab😀";
  ASSERT_EQ(runTouchCommand("tap 20 100"), "");
  ASSERT_TRUE(view->isFirstResponder());
  EXPECT_EQ(runTouchCommand("type " + text), "");
  EXPECT_EQ(view->text(), text);
  EXPECT_EQ(view->textLength(), utf16Length(text));
  EXPECT_EQ(counter->label->text(), std::to_string(140 - static_cast<long>(utf16Length(text))));
  std::size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xC0) != 0x80;
  EXPECT_EQ(counter->changes, characters);
  // Edits inside the text still land where they are meant to.
  ASSERT_TRUE(view->replaceCharactersInRange(TextRange{0, 2}, "x"));
  EXPECT_EQ(view->text(), "x" + text.substr(2));
  EXPECT_EQ(view->textLength(), utf16Length(text) - 1);
  view->resignFirstResponder();

  auto field = makeView<TextField>(Rect(10, 200, 300, 30));
  window->addSubview(field);
  ASSERT_EQ(runTouchCommand("tap 20 215"), "");
  EXPECT_EQ(runTouchCommand("type " + text), "");
  EXPECT_EQ(field->text(), text);
  EXPECT_EQ(field->textLength(), utf16Length(text));
  ASSERT_TRUE(field->deleteBackward());
  const std::size_t left = utf16Length(text) - lastCharacterRange(text).length;
  EXPECT_EQ(field->textLength(), left);

  std::string tooLong(kLongestTypedText + 1, 'a');
  EXPECT_EQ(runTouchCommand("type " + tooLong),
            format("error: type takes at most %zu bytes of text, not %zu: no field holds more", kLongestTypedText, tooLong.size()));
  EXPECT_EQ(field->textLength(), left);
}

TEST_F(TouchCommandsTest, AListUnderAnAlertIsNotTouchedThroughIt) {
  pages(20);
  auto alert = std::make_shared<AlertView>("要闻推送", "", std::weak_ptr<AlertViewDelegate>(), "忽略");
  alert->show();
  for (const char* command : {"tap row 0", "pull", "scroll end"})
    EXPECT_EQ(runTouchCommand(command), "error: the list is covered by AlertView \"要闻推送\"") << command;
  EXPECT_TRUE(lists[0]->selected.empty());
  EXPECT_EQ(tables[0]->contentOffset(), (Point{0, 0}));
}

// A wait is bounded, and the clock always gets where it was sent, even where its dates are too
// coarse for the driver's small steps to move them.
TEST_F(TouchCommandsTest, WaitIsBoundedAndAlwaysMovesTheClock) {
  double before = Clock::now();
  EXPECT_EQ(runTouchCommand("wait 1e9"), "error: wait needs SECONDS from 0 to 600");
  EXPECT_EQ(runTouchCommand("wait -1"), "error: wait needs SECONDS from 0 to 600");
  EXPECT_EQ(runTouchCommand("wait nan"), "error: wait needs SECONDS from 0 to 600");
  EXPECT_EQ(Clock::now(), before);
  EXPECT_EQ(runTouchCommand("wait 600.5"), "error: wait needs SECONDS from 0 to 600");
  EXPECT_EQ(runTouchCommand("wait 30"), "");
  EXPECT_GE(Clock::now(), before + 30);
  EXPECT_LT(Clock::now(), before + 30.001);

  int fired = 0;
  auto timer = Timer::scheduled(1e6, false, [&](Timer&) { ++fired; });
  Clock::advance(2e14);  // dates this far out have a resolution of about 0.03 s
  double far = Clock::now();
  TouchDriver::advance(5);
  EXPECT_GE(Clock::now(), far + 5);
  EXPECT_EQ(fired, 1);
}

// A command waits for the timers it set (an animation ending), not for ones that were ticking
// before it (a carousel turning every few seconds), however soon they are due.
TEST_F(TouchCommandsTest, OnlyTheTimersACommandSetHoldItsAnswer) {
  int turns = 0;
  auto carousel = Timer::scheduled(5, true, [&turns](Timer&) { ++turns; });
  TouchDriver::advance(4.5);
  SettleOptions o;
  o.timersAfter = RunLoop::main()->lastTimerSerial();
  const double before = Clock::now();
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_EQ(Clock::now(), before);
  EXPECT_EQ(turns, 0);

  bool ended = false;
  auto animation = Timer::scheduled(0.3, false, [&ended](Timer&) { ended = true; });
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_TRUE(ended);
  // Turned once and due again soon, the carousel still is not the command's.
  TouchDriver::advance(4.5);
  EXPECT_EQ(turns, 1);
  const double later = Clock::now();
  EXPECT_TRUE(settleScreen(o).atRest);
  EXPECT_EQ(Clock::now(), later);
  carousel->invalidate();
}

// Hears how a load ended, and hands its answer on through a queue as the clients do.
struct LoadEnd : URLConnectionDelegate {
  bool finished = false, failed = false, handedOn = false;
  void didFinishLoading(URLConnection&) override {
    finished = true;
    DispatchQueue::global()->async([this] { DispatchQueue::main()->async([this] { handedOn = true; }); });
  }
  void didFailWithError(URLConnection&, const Error&) override { failed = true; }
};

// On the real clock, as the reader runs: the loads a command started are waited for, and one that
// outlasts the limit is named rather than waited on for ever.
TEST(ScreenSettleRealClock, TheCommandsLoadsAreWaitedForAndOneThatStallsIsNamed) {
  using testing::CannedResponse, testing::HttpTestServer, testing::RecordedRequest;
  HttpTestServer server;
  Semaphore release;
  server.route("GET", "/stall", [&release](const RecordedRequest&) {
    release.wait();
    return CannedResponse::text("late");
  });
  server.route("GET", "/list", CannedResponse::text("rows"));

  SettleOptions o;
  o.loadsAfter = URLConnection::lastLoadSerial();
  auto quick = std::make_shared<LoadEnd>();
  auto load = URLConnection::create(URLRequest(server.url("/list")), quick);
  SettleResult r = settleScreen(o);
  EXPECT_TRUE(r.atRest);
  // At rest only once the answer has reached the main thread through the queues.
  EXPECT_TRUE(quick->finished);
  EXPECT_TRUE(quick->handedOn);

  auto late = std::make_shared<LoadEnd>();
  o.loadsAfter = URLConnection::lastLoadSerial();
  auto stalled = URLConnection::create(URLRequest(server.url("/stall")), late);
  o.limit = 0.3;
  r = settleScreen(o);
  EXPECT_FALSE(r.atRest);
  EXPECT_EQ(r.pending.size(), 1u);
  if (!r.pending.empty()) {
    EXPECT_EQ(r.pending[0].rfind("the load of " + server.url("/stall") + ", for ", 0), 0u) << r.pending[0];
  }
  EXPECT_FALSE(late->finished);

  // A later command did not start it: it does not keep that command waiting.
  o.loadsAfter = URLConnection::lastLoadSerial();
  o.limit = 8;
  EXPECT_TRUE(settleScreen(o).atRest);

  release.signal();
  // Its answer is handed on through the queues before the test lets its delegate go.
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return late->handedOn; }, 20));
}

TEST(ScreenSettleRealClock, WaitingForAnimationsSleepsUntilTheirEnds) {
  bool ended = false;
  View::animate(0.2, 0, kViewAnimationOptionNone, [] {}, [&ended](bool) { ended = true; });
  EXPECT_TRUE(waitForAnimations());
  EXPECT_TRUE(ended);
  EXPECT_EQ(View::animationsUnderWay(), 0u);
  // One that would outlast the limit is left running, and said to be.
  View::animate(0.5, 0, kViewAnimationOptionNone, [] {}, {});
  EXPECT_FALSE(waitForAnimations(0.05));
  EXPECT_EQ(View::animationsUnderWay(), 1u);
  EXPECT_TRUE(waitForAnimations());
}

// A load that failed and was sent again (or was stopped and queued anew) has been waited for since
// its first try: what is still under way says that, not how long the latest try has run. A try
// before the command is not the command's, nor is a picture.
TEST(ScreenSettleLoads, ALoadTriedAgainCountsFromItsFirstTry) {
  VirtualClockScope clock;
  const std::string url = "http://127.0.0.1:" + std::to_string(testing::HttpTestServer::refusedPort()) + "/list";
  // Started, never run: the tries only need their places in the list of loads.
  auto begin = [](const std::string& address, const char* accept = nullptr) {
    URLRequest request(address);
    if (accept) request.setValueForHTTPHeaderField(accept, "Accept");
    auto connection = URLConnection::create(request, std::weak_ptr<URLConnectionDelegate>(), false);
    connection->start();
    return connection;
  };
  begin(url)->cancel();  // an earlier command's
  Clock::advance(30);

  const std::uint64_t command = URLConnection::lastLoadSerial();
  auto first = begin(url);
  auto picture = begin(url + "?picture", "image/png");
  Clock::advance(10);
  first->cancel();
  auto again = begin(url);
  Clock::advance(2);
  again->cancel();
  auto third = begin(url);
  auto other = begin(url + "?page=2");
  Clock::advance(3);
  EXPECT_EQ(loadsUnderWay(command),
            (std::vector<std::string>{"the load of " + url + ", for 15.0 s", "the load of " + url + "?page=2, for 3.0 s"}));
  // For a later command the same address counts from its own try.
  EXPECT_EQ(loadsUnderWay(URLConnection::lastLoadSerial() - 2), (std::vector<std::string>{"the load of " + url + ", for 3.0 s", "the load of " + url + "?page=2, for 3.0 s"}));

  for (const auto& c : {picture, third, other}) c->cancel();
  EXPECT_TRUE(loadsUnderWay(command).empty());
  first.reset();
  again.reset();
  // The tries' starts, posted to this loop, find their loads gone.
  RunLoop::current()->runUntilIdle();
}

// A download asleep on a background thread until its answer comes, as the picture loader's are.
struct SleepingDownload {
  std::shared_ptr<LoadEnd> delegate = std::make_shared<LoadEnd>();
  std::atomic<bool> done{false};
  void start(const std::string& url, const std::string& accept) {
    DispatchQueue::global()->async([this, url, accept] {
      URLRequest request(url);
      if (!accept.empty()) request.setValueForHTTPHeaderField(accept, "Accept");
      auto connection = URLConnection::create(request, delegate);
      RunLoop::current()->runUntilWoken([this] { return delegate->finished || delegate->failed; },
                                        std::numeric_limits<double>::infinity());
      done = true;
    });
  }
};

// A picture that stalls never holds a command: the settle leaves pictures to fill in as they come,
// and a download asleep waiting for its answer is no work under way. Any other load the command
// started, asleep on a background thread or not, is still waited for and named.
TEST(ScreenSettleRealClock, AStalledPictureDoesNotHoldTheAnswerButOtherLoadsDo) {
  using testing::CannedResponse, testing::HttpTestServer, testing::RecordedRequest;
  EXPECT_TRUE(isPictureLoad("image/png,image/jpeg,image/gif,image/*;q=0.8"));
  EXPECT_TRUE(isPictureLoad("image/*"));
  EXPECT_FALSE(isPictureLoad(""));
  EXPECT_FALSE(isPictureLoad("image/png, text/html"));
  EXPECT_FALSE(isPictureLoad("application/json"));

  HttpTestServer server;
  Semaphore arrived, release;
  server.route("GET", "/stall", [&](const RecordedRequest&) {
    arrived.signal();
    release.wait();
    return CannedResponse::text("late");
  });

  SettleOptions o;
  o.loadsAfter = URLConnection::lastLoadSerial();
  SleepingDownload picture;
  picture.start(server.url("/stall"), "image/png,image/*;q=0.8");
  arrived.wait();
  o.limit = 8;
  SettleResult r = settleScreen(o);
  EXPECT_TRUE(r.atRest);
  EXPECT_TRUE(r.pending.empty());

  SleepingDownload list;
  list.start(server.url("/stall?list"), "");
  arrived.wait();
  o.limit = 0.3;
  r = settleScreen(o);
  EXPECT_FALSE(r.atRest);
  ASSERT_EQ(r.pending.size(), 1u);
  EXPECT_EQ(r.pending[0].rfind("the load of " + server.url("/stall?list") + ", for ", 0), 0u) << r.pending[0];

  release.signal();
  release.signal();
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return picture.done && list.done && picture.delegate->handedOn && list.delegate->handedOn; }, 20));
}

// Work on another thread holds the answer until it ends, and its end wakes the settle at once: the
// answer does not wait for the main loop's longest sleep (a second) to run out.
TEST(ScreenSettleRealClock, WorkOnAnotherThreadWakesTheSettleAsItEnds) {
  Semaphore started;
  std::atomic<bool> ended{false};
  std::atomic<std::chrono::steady_clock::rep> endedAt{0};
  DispatchQueue::global()->async([&] {
    started.signal();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the work
    endedAt = std::chrono::steady_clock::now().time_since_epoch().count();
    ended = true;
  });
  started.wait();
  const auto delayedBefore = testing::timeWaitingForAProcessor();
  SettleOptions o;
  EXPECT_TRUE(settleScreen(o).atRest);
  const auto answeredAt = std::chrono::steady_clock::now();
  const auto delayed = testing::timeWaitingForAProcessor() - delayedBefore;
  EXPECT_TRUE(ended) << "the settle answered before the work ended";
  // From the work's end, less what a loaded machine kept this thread waiting for a processor.
  const auto took = answeredAt - std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(endedAt.load()));
  EXPECT_LT(took - delayed, std::chrono::milliseconds(600)) << "the work's end did not wake the settle";
}

}  // namespace
}  // namespace os::test
