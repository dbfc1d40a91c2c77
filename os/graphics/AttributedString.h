#pragma once
// Text with runs of attributes (font, colour, underline, link, paragraph style). Ranges count
// UTF-16 units, as the platform's strings do.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/Color.h"
#include "os/graphics/Font.h"

namespace os {

enum class LineBreakMode { WordWrap = 0, CharWrap = 1, Clip = 2, TruncateHead = 3, TruncateTail = 4, TruncateMiddle = 5 };
enum class TextAlignment { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };

struct TextRange {
  std::size_t location = 0, length = 0;
  std::size_t end() const { return location + length; }
  bool operator==(const TextRange&) const = default;
};

struct ParagraphStyle {
  TextAlignment alignment = TextAlignment::Natural;
  double firstLineHeadIndent = 0;
  double headIndent = 0;
  double lineSpacing = 0;              // added between the lines of a paragraph
  double paragraphSpacing = 0;         // added after a paragraph
  double paragraphSpacingBefore = 0;   // added before a paragraph (not at the top of a frame)
  LineBreakMode lineBreakMode = LineBreakMode::WordWrap;
  bool operator==(const ParagraphStyle&) const = default;
};

// Unset attributes fall back to the layout's defaults.
struct TextAttributes {
  std::optional<Font> font;
  std::optional<Color> color;
  bool underline = false;
  std::string link;  // empty: no link
  std::optional<ParagraphStyle> paragraphStyle;
  bool operator==(const TextAttributes&) const = default;
};

class AttributedString {
 public:
  struct Run {
    TextRange range;
    TextAttributes attributes;
  };

  AttributedString() = default;
  explicit AttributedString(std::string text, TextAttributes attributes = {});

  const std::string& string() const { return text_; }
  // Length in UTF-16 units.
  std::size_t length() const { return length_; }
  TextRange wholeRange() const { return {0, length_}; }

  // Setters cover a range; a range beyond the end throws os::Exception (as the platform raises).
  void setFont(TextRange r, const Font& font);
  void setColor(TextRange r, const Color& color);
  void setUnderline(TextRange r, bool on);
  void setLink(TextRange r, const std::string& link);
  void setParagraphStyle(TextRange r, const ParagraphStyle& style);
  void append(const std::string& text, const TextAttributes& attributes = {});

  // Attributes at a UTF-16 index (the last run's when at the end; empty when there is no text).
  TextAttributes attributesAt(std::size_t index) const;
  // Runs cover [0, length) without gaps; neighbours with equal attributes are merged.
  const std::vector<Run>& runs() const { return runs_; }

 private:
  template <class F>
  void apply(TextRange r, F&& change);
  void splitAt(std::size_t index);
  void merge();

  std::string text_;
  std::size_t length_ = 0;
  std::vector<Run> runs_;
};

}  // namespace os
