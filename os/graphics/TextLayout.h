#pragma once
// The text engine: measuring strings and breaking them into lines with the installed TextMetrics.
//
// Breaking: word wrap breaks after spaces and hyphens and on either side of a full-width (CJK)
// character; a word longer than the line is broken between characters. Spaces at a break hang
// past the line end and do not count in its width. "\n", "\r", "\r\n" and U+2029 end a
// paragraph; U+2028 ends a line within one.
//
// Vertical placement: the first baseline of a frame sits one ascent below its top; baselines
// follow each other by ascent + descent + leading + line spacing, plus the paragraph spacing
// (after) and spacing before at a paragraph break. A frame keeps only the lines whose descent
// fits in its height.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Geometry.h"

namespace os {

// A piece of a line in one set of attributes.
struct TextRun {
  std::string text;
  Font font;
  Color color;
  bool underline = false;
  std::string link;
  double x = 0;      // from the line's origin
  double width = 0;
};

struct TextLine {
  // Baseline start, in the frame rectangle's space (y grows downward).
  Point origin;
  // The same baseline with y measured upward, mirrored within the rectangle:
  // y = rect.minY + rect.maxY − origin.y (so maxY − originYUp.y is the depth below the top).
  Point originYUp;
  double ascent = 0, descent = 0, leading = 0;
  // Typographic width without hanging spaces; a justified line spans its whole measure.
  double width = 0;
  TextRange range;                         // UTF-16 units of the source text
  std::size_t byteStart = 0, byteEnd = 0;  // UTF-8 bytes of the source text
  std::string text;                        // as shown ("…" included when truncated)
  std::vector<TextRun> runs;
  bool truncated = false;
  bool endsParagraph = false;
};

class TextFrame {
 public:
  // Lays the text out in the rectangle. Unset fonts use `defaultFont`, unset colours black;
  // each paragraph uses the paragraph style found at its first character.
  static TextFrame layout(const AttributedString& text, const Rect& rect, const Font& defaultFont = Font::systemFont(12));
  // Plain text in one font. Truncating modes put "…" into the last line that fits when text is
  // left over; clip cuts that line at the rectangle's width.
  static TextFrame layout(std::string_view text, const Font& font, const Rect& rect,
                          LineBreakMode mode = LineBreakMode::WordWrap, TextAlignment alignment = TextAlignment::Natural);

  const Rect& rect() const { return rect_; }
  const std::vector<TextLine>& lines() const { return lines_; }
  // UTF-16 range of the source that the kept lines show.
  TextRange visibleRange() const;
  // Widest line, and depth from the rectangle's top to the last kept line's descent.
  Size usedSize() const;

 private:
  Rect rect_;
  std::vector<TextLine> lines_;
};

// Width of the text on one line, no breaking (line breaks count as nothing).
double textWidth(std::string_view text, const Font& font);
// One line: (ceil(width), line height); empty text measures (0, 0).
Size sizeWithFont(std::string_view text, const Font& font);
// Wrapped within a width and a height bound: (ceil(widest line), lines × line height). The
// height bound keeps whole lines only, at least one.
Size sizeWithFont(std::string_view text, const Font& font, Size constrainedTo,
                  LineBreakMode mode = LineBreakMode::WordWrap);

}  // namespace os
