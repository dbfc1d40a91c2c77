#include <gtest/gtest.h>

#include "os/core/Error.h"
#include "os/graphics/TextLayout.h"
#include "os/graphics/TextMetrics.h"

namespace os {
namespace {

std::vector<std::string> lineTexts(const TextFrame& f) {
  std::vector<std::string> out;
  for (const TextLine& l : f.lines()) out.push_back(l.text);
  return out;
}

TEST(TextMeasure, FullWidthCharactersAreOneEmAndLatinFollowsTheTable) {
  Font f = Font::systemFont(16);
  EXPECT_EQ(sizeWithFont("一二三四五六七八九十", f), (Size{160, 20}));  // line height 19.2 rounds up
  EXPECT_DOUBLE_EQ(textWidth("ＡＢ，。", f), 64);
  // H = 0.70 em, i = 0.25 em, space = 0.25 em.
  EXPECT_DOUBLE_EQ(textWidth("Hi i", Font::systemFont(20)), 14 + 5 + 5 + 5);
  EXPECT_DOUBLE_EQ(textWidth("0123456789", Font::systemFont(10)), 55);
  EXPECT_EQ(sizeWithFont("", f), (Size{0, 0}));
  EXPECT_DOUBLE_EQ(f.lineHeight(), 19.2);
  EXPECT_DOUBLE_EQ(f.ascender(), 12.8);
  EXPECT_DOUBLE_EQ(f.descender(), -3.2);
  EXPECT_EQ(Font::boldSystemFont(16).isBold(), true);
  EXPECT_DOUBLE_EQ(textWidth("Bold", Font::boldSystemFont(16)), textWidth("Bold", f));
}

TEST(TextMeasure, MalformedUtf8CountsAsReplacementCharacters) {
  Font f = Font::systemFont(10);
  EXPECT_DOUBLE_EQ(textWidth(std::string("\xff\xfe"), f), 10);       // two U+FFFD at 0.5 em
  EXPECT_DOUBLE_EQ(textWidth(std::string("\xe4\xb8"), f), 10);       // a cut-off ideograph
  TextFrame frame = TextFrame::layout(std::string("a\xc0\xaf"), f, Rect(0, 0, 100, 100));
  ASSERT_EQ(frame.lines().size(), 1u);
  EXPECT_EQ(frame.lines()[0].range, (TextRange{0, 3}));
}

TEST(TextWrap, MixedChineseAndLatinBreakAtSpacesAndAroundIdeographs) {
  Font f = Font::systemFont(10);
  // 中文abc = 10+10+5.5+5.5+5 = 36; the space hangs; "def" would overflow 40.
  Size s = sizeWithFont("中文abc def中文", f, Size{40, 1000});
  EXPECT_EQ(s, (Size{36, 24}));
  TextFrame frame = TextFrame::layout("中文abc def中文", f, Rect(0, 0, 40, 100));
  EXPECT_EQ(lineTexts(frame), (std::vector<std::string>{"中文abc", "def中文"}));
  EXPECT_EQ(frame.lines()[0].width, 36);
  // Ideographs break anywhere; Latin words stay whole while they fit.
  EXPECT_EQ(lineTexts(TextFrame::layout("中文中文中文", f, Rect(0, 0, 25, 100))),
            (std::vector<std::string>{"中文", "中文", "中文"}));
  EXPECT_EQ(lineTexts(TextFrame::layout("ab 中文", f, Rect(0, 0, 25, 100))),
            (std::vector<std::string>{"ab 中", "文"}));
  // A word wider than the line is cut between letters; char wrap ignores spaces.
  EXPECT_EQ(lineTexts(TextFrame::layout("abcdefgh", f, Rect(0, 0, 20, 100))),
            (std::vector<std::string>{"abc", "defg", "h"}));
  EXPECT_EQ(lineTexts(TextFrame::layout("ab cd", f, Rect(0, 0, 14, 100), LineBreakMode::CharWrap)),
            (std::vector<std::string>{"ab", "cd"}));
  // Hyphens are break points; closing punctuation does not start a line.
  EXPECT_EQ(lineTexts(TextFrame::layout("ab-cd", f, Rect(0, 0, 20, 100))), (std::vector<std::string>{"ab-", "cd"}));
  EXPECT_EQ(lineTexts(TextFrame::layout("中文中。", f, Rect(0, 0, 30, 100))), (std::vector<std::string>{"中文", "中。"}));
}

TEST(TextWrap, NewlinesEndParagraphsAndATrailingOneAddsNoLine) {
  Font f = Font::systemFont(10);
  EXPECT_EQ(lineTexts(TextFrame::layout("a\nb\r\nc\rd", f, Rect(0, 0, 100, 100))),
            (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(lineTexts(TextFrame::layout("a\n", f, Rect(0, 0, 100, 100))), (std::vector<std::string>{"a"}));
  EXPECT_EQ(lineTexts(TextFrame::layout("a\n\nb", f, Rect(0, 0, 100, 100))), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(sizeWithFont("a\nbb", f, Size{100, 1000}), (Size{11, 24}));
  EXPECT_TRUE(TextFrame::layout("", f, Rect(0, 0, 100, 100)).lines().empty());
  // A zero-wide frame still makes progress: one character per line.
  EXPECT_EQ(TextFrame::layout("abc", f, Rect(0, 0, 0, 100)).lines().size(), 3u);
}

TEST(TextWrap, HeightBoundKeepsWholeLinesAndTruncatesTheLast) {
  Font f = Font::systemFont(10);
  // Two lines of 12 points fit in 30.
  EXPECT_EQ(sizeWithFont("一二三四五六七八九", f, Size{30, 30}), (Size{30, 24}));
  EXPECT_EQ(sizeWithFont("一二三四五六七八九", f, Size{30, 5}), (Size{30, 12}));

  TextFrame tail = TextFrame::layout("abcdefghij", f, Rect(0, 0, 30, 12), LineBreakMode::TruncateTail);
  ASSERT_EQ(tail.lines().size(), 1u);
  EXPECT_EQ(tail.lines()[0].text, "abc…");  // 5.5 + 5.5 + 5 + "…" 10 <= 30
  EXPECT_TRUE(tail.lines()[0].truncated);
  EXPECT_LE(tail.lines()[0].width, 30);
  TextFrame head = TextFrame::layout("abcdefghij", f, Rect(0, 0, 30, 12), LineBreakMode::TruncateHead);
  EXPECT_EQ(head.lines()[0].text, "…fghij");
  TextFrame middle = TextFrame::layout("abcdefghij", f, Rect(0, 0, 30, 12), LineBreakMode::TruncateMiddle);
  EXPECT_EQ(middle.lines()[0].text, "ab…ij");
  TextFrame clip = TextFrame::layout("abcdefghij", f, Rect(0, 0, 30, 12), LineBreakMode::Clip);
  EXPECT_EQ(clip.lines()[0].width, 30);
  // Text that fits is left alone.
  EXPECT_EQ(TextFrame::layout("ab", f, Rect(0, 0, 30, 12), LineBreakMode::TruncateTail).lines()[0].text, "ab");
  // Two lines kept, the second stands for the rest.
  TextFrame two = TextFrame::layout("一二三四五六七八九", f, Rect(0, 0, 30, 24), LineBreakMode::TruncateTail);
  EXPECT_EQ(lineTexts(two), (std::vector<std::string>{"一二三", "四五…"}));
}

AttributedString styled(const std::string& text, double lineSpacing, double paragraphSpacing) {
  AttributedString s(text);
  ParagraphStyle ps;
  ps.alignment = TextAlignment::Justified;
  ps.lineSpacing = lineSpacing;
  ps.paragraphSpacing = paragraphSpacing;
  s.setParagraphStyle(s.wholeRange(), ps);
  s.setFont(s.wholeRange(), Font::systemFont(12));
  return s;
}

TEST(TextFrame, ParagraphBreakAddsParagraphSpacing) {
  Rect r(0, 0, 36, 10000);
  TextFrame wrapped = TextFrame::layout(styled("一二三四五六", 8, 11), r);
  TextFrame broken = TextFrame::layout(styled("一二三\n四五六", 8, 11), r);
  ASSERT_EQ(wrapped.lines().size(), 2u);
  ASSERT_EQ(broken.lines().size(), 2u);
  // First baseline one ascent down; then descent + leading + line spacing + next ascent.
  EXPECT_DOUBLE_EQ(wrapped.lines()[0].origin.y, 9.6);
  EXPECT_DOUBLE_EQ(wrapped.lines()[1].origin.y, 9.6 + 2.4 + 2.4 + 8 + 9.6);
  EXPECT_DOUBLE_EQ(broken.usedSize().height - wrapped.usedSize().height, 11);
  // The upward-y origin mirrors the rectangle, so maxY - y is the depth of the baseline.
  EXPECT_DOUBLE_EQ(r.maxY() - wrapped.lines()[1].originYUp.y, wrapped.lines()[1].origin.y);
  // A single line: ascent + descent.
  EXPECT_DOUBLE_EQ(TextFrame::layout(styled("一", 8, 11), r).usedSize().height, 12);
}

TEST(TextFrame, KeepsOnlyTheLinesThatFitItsHeight) {
  AttributedString s = styled("一二三四五六七八九十", 0, 0);
  // Lines at 12-point pitch 14.4: the second ends at 14.4 + 12 = 26.4.
  TextFrame f = TextFrame::layout(s, Rect(0, 0, 36, 27));
  ASSERT_EQ(f.lines().size(), 2u);
  EXPECT_EQ(f.visibleRange(), (TextRange{0, 6}));
  EXPECT_EQ(TextFrame::layout(s, Rect(0, 0, 36, 26)).lines().size(), 1u);
  EXPECT_TRUE(TextFrame::layout(s, Rect(0, 0, 36, 11)).lines().empty());
}

TEST(TextFrame, AlignmentJustificationAndRanges) {
  Font f = Font::systemFont(10);
  TextFrame centered = TextFrame::layout("ab", f, Rect(10, 0, 31, 20), LineBreakMode::WordWrap, TextAlignment::Center);
  EXPECT_DOUBLE_EQ(centered.lines()[0].origin.x, 10 + (31 - 11) / 2.0);
  TextFrame right = TextFrame::layout("ab", f, Rect(0, 0, 31, 20), LineBreakMode::WordWrap, TextAlignment::Right);
  EXPECT_DOUBLE_EQ(right.lines()[0].origin.x, 20);

  // Justified lines span the measure except the paragraph's last.
  TextFrame j = TextFrame::layout(styled("中文 ab中文中文", 0, 0), Rect(0, 0, 40, 1000));
  ASSERT_GE(j.lines().size(), 2u);
  EXPECT_DOUBLE_EQ(j.lines()[0].width, 40);
  EXPECT_LT(j.lines().back().width, 40);

  // Ranges count UTF-16 units (the emoji is two) and UTF-8 bytes.
  TextFrame e = TextFrame::layout("a😀b\ncd", f, Rect(0, 0, 100, 100));
  ASSERT_EQ(e.lines().size(), 2u);
  EXPECT_EQ(e.lines()[0].range, (TextRange{0, 5}));  // terminator included
  EXPECT_EQ(e.lines()[0].byteStart, 0u);
  EXPECT_EQ(e.lines()[0].byteEnd, 7u);
  EXPECT_EQ(e.lines()[1].range, (TextRange{5, 2}));
  EXPECT_EQ(e.lines()[1].byteStart, 7u);
}

TEST(AttributedString, RunsSplitMergeAndCarryIntoLines) {
  AttributedString s("新闻 link");
  EXPECT_EQ(s.length(), 7u);
  s.setColor({3, 4}, Color::blue());
  s.setLink({3, 4}, "http://example.com/a");
  s.setUnderline({3, 4}, true);
  ASSERT_EQ(s.runs().size(), 2u);
  EXPECT_EQ(s.runs()[1].range, (TextRange{3, 4}));
  s.setFont({0, 7}, Font::systemFont(20));
  s.setFont({0, 2}, Font::boldSystemFont(30));
  EXPECT_EQ(s.runs().size(), 3u);
  EXPECT_EQ(s.attributesAt(5).link, "http://example.com/a");
  EXPECT_THROW(s.setColor({5, 3}, Color::red()), Exception);

  TextFrame f = TextFrame::layout(s, Rect(0, 0, 1000, 1000));
  ASSERT_EQ(f.lines().size(), 1u);
  const TextLine& line = f.lines()[0];
  EXPECT_DOUBLE_EQ(line.ascent, 24);  // the 30-point run sets the line's height
  ASSERT_EQ(line.runs.size(), 3u);
  EXPECT_EQ(line.runs[2].text, "link");
  EXPECT_TRUE(line.runs[2].underline);
  EXPECT_EQ(line.runs[2].color, Color::blue());
  EXPECT_DOUBLE_EQ(line.runs[1].x, 60);  // after two 30-point ideographs
}

struct MonoMetrics : DefaultTextMetrics {
  double advance(char32_t, const Font& f) const override { return f.pointSize(); }
};

TEST(TextMetrics, InstalledMetricsReplaceTheDefaultForAScope) {
  Font f = Font::systemFont(10);
  {
    TextMetricsScope scope(std::make_shared<MonoMetrics>());
    EXPECT_DOUBLE_EQ(textWidth("iiii", f), 40);
  }
  EXPECT_DOUBLE_EQ(textWidth("iiii", f), 10);
}

}  // namespace
}  // namespace os
