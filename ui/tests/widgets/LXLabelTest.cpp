#include "ui/widgets/LXLabel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "os/graphics/RecordingContext.h"
#include "os/graphics/TextMetrics.h"

namespace {

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// With the fixed metrics a CJK character is one em wide; an 18-point line has ascent 14.4,
// descent 3.6 and leading 3.6.
class RichTextLabel : public ::testing::Test {
 protected:
  RichTextLabel() : metrics_(std::make_shared<os::DefaultTextMetrics>()) {}

  std::shared_ptr<LXLabel> label(const std::string& text, double size = 18) {
    auto l = os::makeView<LXLabel>(os::Rect(0, 0, 296, 200));
    l->setFont(os::Font::systemFont(size));
    l->setText(text);
    return l;
  }
  std::vector<os::DrawOp> drawnText(LXLabel& l) {
    l.display();
    return l.lastDrawing()->operations(os::DrawOp::Kind::ShowText);
  }

  const os::Rect column_{0, 0, 296, 10000};
  os::TextMetricsScope metrics_;
};

TEST_F(RichTextLabel, MeasuresCJKLinesWithFixedSpacing) {
  // One line: its baseline's depth plus its descent.
  EXPECT_EQ(label("中文中文")->textHeight(column_), 18.0f);
  // 16 characters fit in 296 points; the second baseline lies 18 + 3.6 + 8 + 14.4 lower.
  EXPECT_EQ(label(repeat("中", 20))->textHeight(column_), 48.0f);
  // The same lines as two paragraphs gain the 11 points of paragraph spacing.
  EXPECT_EQ(label(repeat("中", 16) + "\n" + repeat("中", 4))->textHeight(column_), 59.0f);
  // 15 points: 19 characters to a line, baselines at 12 and 12 + 3 + 3 + 8 + 12.
  EXPECT_EQ(label(repeat("中", 20), 15)->textHeight(column_), 41.0f);

  // The rectangle's origin does not matter; only lines that fit its height count.
  auto l = label(repeat("中", 20));
  EXPECT_EQ(l->textHeight({5, 7, 296, 10000}), 48.0f);
  EXPECT_EQ(l->textHeight({0, 0, 296, 30}), 18.0f);
  EXPECT_EQ(l->textHeight({0, 0, 296, 10}), 0.0f);
  // Wrapped lines are justified to the full width; a paragraph's last line is not.
  EXPECT_EQ(LXLabel::measureFrame(os::TextFrame::layout(l->string(), column_)), (os::Size{296, 48}));
  EXPECT_EQ(LXLabel::measureFrame(os::TextFrame::layout(l->string(), {0, 0, 296, 30})), (os::Size{296, 18}));
}

TEST_F(RichTextLabel, DrawsItsLinesInTheViewsOwnSpace) {
  auto l = label(repeat("中", 20));
  EXPECT_FALSE(l->backgroundColor());
  auto ops = drawnText(*l);
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].text, repeat("中", 16));
  EXPECT_EQ(ops[0].point, (os::Point{0, 14.4}));
  EXPECT_EQ(ops[1].text, repeat("中", 4));
  EXPECT_NEAR(ops[1].point.y, 44, 1e-9);
  EXPECT_EQ(ops[1].color, os::Color::black());

  std::vector<std::string> dump;
  label("中文")->describeForDump(dump);
  EXPECT_EQ(dump, std::vector<std::string>{"text=\"中文\""});
}

TEST_F(RichTextLabel, FontAndColourChangesShowAtTheNextRedraw) {
  auto l = label("中文");
  EXPECT_TRUE(l->needsDisplay());
  drawnText(*l);
  l->setFont(os::Font::systemFont(20));
  l->setTextColor(os::Color{0, 0, 1, 1});
  EXPECT_FALSE(l->needsDisplay());
  l->setText("中文");
  EXPECT_TRUE(l->needsDisplay());
  auto op = drawnText(*l).at(0);
  EXPECT_EQ(op.font, os::Font::systemFont(20));
  EXPECT_EQ(op.color, (os::Color{0, 0, 1, 1}));

  // A label whose font was never set uses (and keeps) the 12-point system font.
  auto plain = os::makeView<LXLabel>(os::Rect(0, 0, 100, 100));
  plain->setText("中");
  EXPECT_FALSE(plain->font());
  EXPECT_EQ(plain->textHeight(column_), 12.0f);
  EXPECT_EQ(plain->font(), os::Font::systemFont(12));
}

TEST_F(RichTextLabel, NoTextIsEmptyForDrawingMeasuringAndHitTesting) {
  auto fresh = os::makeView<LXLabel>(os::Rect(0, 0, 100, 100));
  EXPECT_EQ(fresh->textHeight(column_), 0.0f);
  EXPECT_TRUE(drawnText(*fresh).empty());
  EXPECT_EQ(fresh->linkAtPoint({1, 1}), "");
  fresh->drawRect(fresh->bounds());  // no current context: nothing to draw into

  auto empty = label("");
  EXPECT_EQ(empty->textHeight(column_), 0.0f);
  EXPECT_TRUE(drawnText(*empty).empty());
  empty->setString(os::AttributedString());
  EXPECT_EQ(empty->textHeight({0, 0, 0, 0}), 0.0f);
}

TEST_F(RichTextLabel, LinksAreFoundUnderThePoint) {
  // Links on characters 1-2 of the first line and the first two of the second.
  os::AttributedString text("点这里看" + repeat("中", 12) + "再点这里");
  text.setLink({1, 2}, "news://a");
  text.setLink({16, 2}, "news://b");
  auto l = os::makeView<LXLabel>(os::Rect(0, 0, 296, 100));
  l->setFont(os::Font::systemFont(18));
  l->setString(text);

  EXPECT_EQ(l->linkAtPoint({20, 10}), "news://a");
  EXPECT_EQ(l->linkAtPoint({53, 1}), "news://a");
  EXPECT_EQ(l->linkAtPoint({5, 10}), "");
  EXPECT_EQ(l->linkAtPoint({60, 10}), "");
  // The second line's glyphs stand between 44 - 14.4 and 44 + 3.6.
  EXPECT_EQ(l->linkAtPoint({10, 35}), "news://b");
  EXPECT_EQ(l->linkAtPoint({10, 20}), "");  // between the lines
  EXPECT_EQ(l->linkAtPoint({80, 35}), "");
  // Formatting puts the font over the whole text but keeps the links.
  EXPECT_EQ(l->string().attributesAt(1).link, "news://a");
  EXPECT_EQ(l->string().attributesAt(1).font, os::Font::systemFont(18));
}

}  // namespace
