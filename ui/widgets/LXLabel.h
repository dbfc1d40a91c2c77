#pragma once
// A block of body text drawn justified, with fixed line and paragraph spacing, by the one text
// engine. It can also say how tall its text will be in a rectangle before anything is laid out,
// which is how article rows get their heights (a label that is never shown does the measuring).
// Main thread only.
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Color.h"
#include "os/graphics/Font.h"
#include "os/graphics/Geometry.h"
#include "os/graphics/TextLayout.h"
#include "os/views/View.h"

class LXLabel : public os::View {
 public:
  // The paragraph style given to the whole text.
  static constexpr double kParagraphSpacing = 11.0;
  static constexpr double kLineSpacing = 8.0;
  // The font used when none was set.
  static constexpr double kDefaultFontSize = 12;

  LXLabel();
  explicit LXLabel(const os::Rect& frame);
  std::string className() const override { return "LXLabel"; }

  // A new string of plain text (no attributes yet), and a redraw.
  void setText(const std::string& text);
  // The text with its attributes. A label that was never given one holds the empty string.
  const os::AttributedString& string() const { return string_; }
  // Font and colour are applied to the whole text when it is next drawn or measured; these
  // setters do not redraw.
  void setString(const os::AttributedString& string) { string_ = string; }
  const std::optional<os::Font>& font() const { return font_; }
  void setFont(const os::Font& font) { font_ = font; }
  const std::optional<os::Color>& textColor() const { return textColor_; }
  void setTextColor(std::optional<os::Color> color) { textColor_ = std::move(color); }

  // The height the text needs laid out in `rect` (only the lines that fit count).
  float textHeight(const os::Rect& rect);
  // The link under a point of the bounds as last laid out for drawing; "" when there is none.
  std::string linkAtPoint(os::Point point);

  // The size a laid-out frame covers: its widest line, and the depth from the top of its
  // rectangle to the last line's descent, both rounded up. No lines: (0, 0).
  static os::Size measureFrame(const os::TextFrame& frame);

  void drawRect(const os::Rect& rect) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  // Puts the paragraph style, the font (system 12 when unset, then kept) and the colour (when
  // set) over the whole text. Idempotent.
  void formatString();
  os::TextFrame layoutIn(const os::Rect& rect);

  os::AttributedString string_;
  std::optional<os::Font> font_;
  std::optional<os::Color> textColor_;
};
