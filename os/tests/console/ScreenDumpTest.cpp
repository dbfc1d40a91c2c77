#include <gtest/gtest.h>

#include "os/graphics/Image.h"
#include "os/console/ScreenDump.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/SearchBar.h"
#include "os/views/ScrollView.h"
#include "os/views/Switch.h"
#include "os/views/TableView.h"
#include "os/views/TextView.h"
#include "os/console/TouchCommands.h"
#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/tests/views/ViewsTestSupport.h"

namespace os::test {
namespace {

using ScreenDumpTest = ScreenTest;

std::shared_ptr<Image> namedImage(const std::string& name) {
  auto img = Image::create(Bitmap(4, 2), 2);
  img->setName(name);
  return img;
}

TEST_F(ScreenDumpTest, ShowsTheVisibleTreeWithTextsAndImages) {
  auto root = makeView<View>(Rect(0, 20, 320, 548));
  window->addSubview(root);
  auto label = makeView<Label>(Rect(10, 10, 100, 20.5));
  // A text from a server may hold what a terminal takes for commands: it prints escaped.
  label->setText("say \"hi\"\nnow\t\x1b[31m\xc2\x9b\xff");
  root->addSubview(label);
  auto share = makeView<Button>(Rect(100, 40, 40, 30));
  share->setImage(namedImage("detail_toolbar_share"), kControlStateNormal);
  share->setAccessibilityLabel("分享");
  root->addSubview(share);
  auto button = makeView<Button>(Rect(10, 40, 80, 30));
  button->setTitle("升级", kControlStateNormal);
  button->setImage(namedImage("navbar-back"), kControlStateNormal);
  button->setSelected(true);
  button->setTag(3);
  root->addSubview(button);
  auto image = makeView<ImageView>(Rect(0, 0, 2, 1));
  image->setImage(namedImage("logo_placeholder"));
  root->addSubview(image);
  auto hidden = makeView<Label>(Rect(0, 0, 10, 10));
  hidden->setText("secret");
  hidden->setHidden(true);
  root->addSubview(hidden);
  auto faded = makeView<View>(Rect(0, 0, 10, 10));
  faded->setAlpha(0);
  faded->addSubview(makeView<Label>(Rect(0, 0, 1, 1)));
  root->addSubview(faded);

  EXPECT_EQ(dumpScreen(),
            "Window (0, 0, 320, 568)\n"
            "  View (0, 20, 320, 548)\n"
            "    Label (10, 10, 100, 20.5) text=\"say \\\"hi\\\"\\nnow\\t\\x1B[31m\\u009B\\xFF\"\n"
            "    Button (100, 40, 40, 30) image=detail_toolbar_share label=\"分享\"\n"
            "    Button (10, 40, 80, 30) title=\"升级\" image=navbar-back selected tag=3\n"
            "    ImageView (0, 0, 2, 1) image=logo_placeholder\n");
  // What the dump escapes, a reader's words still find.
  EXPECT_EQ(findVisibleText("now\t\x1b[31m"), label);
  EXPECT_EQ(findVisibleText("分享"), share);
}

TEST_F(ScreenDumpTest, AWalkVisitsEachViewBeforeWhatItHoldsAndGoesOnAsTold) {
  auto view = [](int tag, const std::shared_ptr<View>& in) {
    auto v = makeView<View>(Rect(0, 0, 50, 50));
    v->setTag(tag);
    in->addSubview(v);
    return v;
  };
  auto a = view(1, window);
  view(2, a);
  view(3, a);
  auto b = view(4, window);
  auto b1 = view(5, b);
  auto tags = [](std::vector<int>& seen, int past, int stop) {
    return [&seen, past, stop](const std::shared_ptr<View>& v) {
      if (v->tag() != 0) seen.push_back(v->tag());
      return v->tag() == stop ? WalkOn::Stop : v->tag() == past ? WalkOn::Past : WalkOn::Into;
    };
  };
  std::vector<int> seen;
  EXPECT_TRUE(walkViews(window, tags(seen, -1, -1)));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
  // Past leaves what the view holds out; Stop ends the walk there.
  seen.clear();
  EXPECT_FALSE(walkWindows(tags(seen, 1, 4)));
  EXPECT_EQ(seen, (std::vector<int>{1, 4}));
  // The first view a test accepts, hidden views and what they hold left out.
  auto wanted = [](const View& v) { return v.tag() == 2 || v.tag() == 5; };
  EXPECT_EQ(firstView(wanted)->tag(), 2);
  a->setHidden(true);
  EXPECT_EQ(firstView(wanted), b1);
  b->setHidden(true);
  EXPECT_EQ(firstView(wanted), nullptr);
}

TEST_F(ScreenDumpTest, AlertsPrintAboveTheWindowTheyCover) {
  auto alert = std::make_shared<AlertView>("反馈成功", "", std::weak_ptr<AlertViewDelegate>(), "确定");
  alert->show();
  std::string dump = dumpScreen();
  auto windowAt = dump.find("Window (0, 0, 320, 568)\n");
  auto alertAt = dump.find("AlertView");
  ASSERT_NE(alertAt, std::string::npos);
  EXPECT_LT(windowAt, alertAt);
  EXPECT_NE(dump.find("title=\"反馈成功\""), std::string::npos);
  EXPECT_NE(dump.find("Button (12, "), std::string::npos);
  EXPECT_NE(dump.find("title=\"确定\" tag=1"), std::string::npos);
}

TEST_F(ScreenDumpTest, ControlsDescribeTheirState) {
  auto sw = makeView<Switch>(Rect(0, 0, 0, 0));
  auto search = makeView<SearchBar>(Rect(0, 50, 320, 44));
  search->setPlaceholder("搜索");
  window->addSubview(sw);
  window->addSubview(search);
  std::string dump = dumpView(*window);
  EXPECT_NE(dump.find("  Switch (0, 0, 79, 27) off\n"), std::string::npos);
  EXPECT_NE(dump.find("  SearchBar (0, 50, 320, 44) placeholder=\"搜索\"\n"), std::string::npos);
  EXPECT_NE(dump.find("    TextField (8, 7, 304, 30) placeholder=\"搜索\"\n"), std::string::npos);
}

TEST_F(ScreenDumpTest, WhatIsOutOfSightIsNamedInOneLineNotPrinted) {
  // A strip of tabs wider than the screen, and a pager whose second page is beside the screen.
  auto strip = makeView<ScrollView>(Rect(0, 0, 320, 34));
  strip->setContentSize(Size{600, 34});
  for (int i = 0; i < 6; ++i) {
    auto tab = makeView<Button>(Rect(100 * i, 0, 100, 34));
    tab->setTitle(std::string(1, static_cast<char>('a' + i)), kControlStateNormal);
    strip->addSubview(tab);
  }
  strip->addSubview(makeView<Button>(Rect(0, 0, 0, 0)));  // nothing to see, nothing to scroll to
  window->addSubview(strip);
  auto pager = makeView<ScrollView>(Rect(0, 34, 320, 400));
  pager->setContentSize(Size{640, 400});
  for (int i = 0; i < 2; ++i) {
    auto page = makeView<View>(Rect(320 * i, 0, 320, 400));
    auto label = makeView<Label>(Rect(0, 0, 320, 20));
    label->setText("下拉刷新");
    page->addSubview(label);
    pager->addSubview(page);
  }
  window->addSubview(pager);

  std::string dump = dumpScreen();
  EXPECT_NE(dump.find("    Button (300, 0, 100, 34) title=\"d\"\n    off screen: 2 Button — \"e\" \"f\"\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("      Label (0, 0, 320, 20) text=\"下拉刷新\"\n    off screen: 1 View\n"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("Button (0, 0, 0, 0)"), std::string::npos);
  EXPECT_EQ(dump.find("(320, 0, 320, 400)"), std::string::npos);
  // Scrolled, the strip shows the others.
  strip->setContentOffset(Point{280, 0});
  dump = dumpScreen();
  EXPECT_NE(dump.find("    Button (200, 0, 100, 34) title=\"c\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("    off screen: 2 Button — \"a\" \"b\"\n"), std::string::npos) << dump;
}

// Rows of `count` cells reading their index.
struct Rows : TableViewDataSource {
  long count = 30;
  long numberOfRowsInSection(TableView&, long) override { return count; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
    cell->textLabel()->setText(std::to_string(ip.row));
    return cell;
  }
};

TEST_F(ScreenDumpTest, ListCellsPrintTopToBottom) {
  auto rows = std::make_shared<Rows>();
  auto table = makeView<TableView>(Rect(0, 0, 320, 200), TableViewStyle::Plain);
  table->setDataSource(rows);
  window->addSubview(table);
  // Down and back up: the cells of the top rows are made last.
  table->setContentOffset(Point{0, 600});
  dumpScreen();
  table->setContentOffset(Point{0, 0});
  std::string dump = dumpScreen();
  std::size_t last = 0;
  for (int row = 0; row < 5; ++row) {
    std::size_t at = dump.find("text=\"" + std::to_string(row) + "\"");
    ASSERT_NE(at, std::string::npos) << dump;
    EXPECT_GT(at, last) << "row " << row << " out of order:\n" << dump;
    last = at;
  }
}

TEST_F(ScreenDumpTest, PicturesSayWhetherTheyAreLoadingFailedOrWhatTheyAre) {
  auto view = makeView<ImageView>(Rect(0, 0, 90, 63));
  window->addSubview(view);
  auto line = [&] {
    std::string d = dumpView(*view);
    return d.substr(0, d.size() - 1);
  };
  view->setImage(namedImage("placeholder"));
  view->setPictureLoad(ImageView::PictureLoad::Loading);
  EXPECT_EQ(line(), "ImageView (0, 0, 90, 63) image=loading");
  view->setPictureLoad(ImageView::PictureLoad::Failed);
  EXPECT_EQ(line(), "ImageView (0, 0, 90, 63) image=failed");
  view->setImage(Image::create(Bitmap(180, 126), 2));
  EXPECT_EQ(line(), "ImageView (0, 0, 90, 63) image=90x63");
  view->setPictureLoad(ImageView::PictureLoad::Loaded, "/img/p1/800x450.png");
  EXPECT_EQ(line(), "ImageView (0, 0, 90, 63) image=/img/p1/800x450.png");
  // A picture set directly ends whatever load was under way.
  view->setPictureLoad(ImageView::PictureLoad::Loading);
  view->setImage(namedImage("logo"));
  EXPECT_EQ(line(), "ImageView (0, 0, 90, 63) image=logo");
}

// A text typed or pasted at length prints once, briefly: its start, cut between characters, and
// its length; what it says can still be tapped by any part of it.
TEST_F(ScreenDumpTest, ALongTextPrintsByItsStartAndLength) {
  auto label = makeView<Label>(Rect(10, 10, 300, 20));
  std::string text;
  for (int i = 0; i < 1000; ++i) text += i % 2 ? "军" : "a";
  text += "末尾";
  label->setText(text);
  label->setUserInteractionEnabled(true);
  window->addSubview(label);
  std::string start;
  for (int i = 0; i < 100; ++i) start += i % 2 ? "军" : "a";
  EXPECT_EQ(dumpView(*label), "Label (10, 10, 300, 20) text=\"" + start + "…\" (1002 characters)\n");
  EXPECT_TRUE(isValidUTF8(dumpScreen()));
  EXPECT_LT(dumpScreen().size(), 1000u);
  EXPECT_EQ(shownText(text), start + "… (1002 characters)");

  // Texts up to the limit print whole.
  std::string whole(kLongestShownText, 'b');
  label->setText(whole);
  EXPECT_EQ(dumpView(*label), "Label (10, 10, 300, 20) text=\"" + whole + "\"\n");
  EXPECT_EQ(shownText(whole), whole);

  // The reader's own long words come back short in an answer, too.
  label->setText(text);
  EXPECT_EQ(runTouchCommand("tap 末尾"), "");
  const std::string missing(5000, 'z');
  EXPECT_EQ(runTouchCommand("tap " + missing),
            "error: nothing on screen reads \"" + std::string(kShownStart, 'z') + "…\" (5000 characters)");
}

// A text view that draws its own hint while empty, as the feedback screen's fields do.
struct HintedTextView : TextView {
  std::string hint;
  using TextView::TextView;
  std::string className() const override { return "HintedTextView"; }
  void setHint(std::string text) {
    hint = std::move(text);
    setNeedsDisplay();
  }
  void drawRect(const Rect& rect) override {
    TextView::drawRect(rect);
    if (auto* context = currentGraphicsContext(); context && text().empty())
      context->drawText(hint, Rect(8, 8, bounds().size.width - 16, 20), font());
  }
};

// A field that shows no words of its own prints the hint it draws as its placeholder, and the
// placeholder names it to `tap`, wherever it sits in the tree.
TEST_F(ScreenDumpTest, AnEmptyTextViewPrintsTheHintItDrawsAndTapFindsItByIt) {
  auto form = makeView<View>(Rect(0, 64, 320, 400));
  window->addSubview(form);
  auto suggestion = makeView<HintedTextView>(Rect(10, 10, 300, 100));
  suggestion->setHint("期待您的意见反馈");
  form->addSubview(suggestion);
  auto contact = makeView<HintedTextView>(Rect(10, 120, 300, 30));
  contact->setHint("QQ、邮箱或手机等联系方式");
  form->addSubview(contact);
  const std::string dump = dumpScreen();
  EXPECT_NE(dump.find("HintedTextView (10, 120, 300, 30) placeholder=\"QQ、邮箱或手机等联系方式\""), std::string::npos) << dump;

  EXPECT_EQ(runTouchCommand("tap 联系方式"), "");
  EXPECT_TRUE(contact->isFirstResponder());
  EXPECT_EQ(runTouchCommand("type 10001"), "");
  EXPECT_EQ(contact->text(), "10001");
  // Once it holds words, they print instead.
  EXPECT_NE(dumpScreen().find("HintedTextView (10, 120, 300, 30) text=\"10001\""), std::string::npos) << dumpScreen();
  EXPECT_EQ(runTouchCommand("tap 期待您的意见反馈"), "");
  EXPECT_TRUE(suggestion->isFirstResponder());
}

}  // namespace
}  // namespace os::test
