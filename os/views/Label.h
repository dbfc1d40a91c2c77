#pragma once
// A label: text in one font and colour, aligned and broken into lines by the text engine,
// drawn vertically centred in its bounds.
#include <string>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Font.h"
#include "os/views/View.h"

namespace os {

class Label : public View {
 public:
  Label();
  explicit Label(const Rect& frame);
  std::string className() const override { return "Label"; }

  const std::string& text() const { return text_; }
  void setText(std::string text);
  const Font& font() const { return font_; }
  void setFont(const Font& font);
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& c);
  const std::optional<Color>& highlightedTextColor() const { return highlightedColor_; }
  void setHighlightedTextColor(std::optional<Color> c) { highlightedColor_ = c; }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e);
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a);
  LineBreakMode lineBreakMode() const { return lineBreak_; }
  void setLineBreakMode(LineBreakMode m);
  // 0: as many lines as the text needs.
  int numberOfLines() const { return lines_; }
  void setNumberOfLines(int n);
  const std::optional<Color>& shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<Color> c) { shadowColor_ = c; }
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size s) { shadowOffset_ = s; }
  bool adjustsFontSizeToFitWidth() const { return adjusts_; }
  void setAdjustsFontSizeToFitWidth(bool a) { adjusts_ = a; }
  double minimumScaleFactor() const { return minScale_; }
  void setMinimumScaleFactor(double f) { minScale_ = f; }

  // The text's size: one line in the font, or wrapped within the width (numberOfLines ≠ 1).
  Size sizeThatFits(Size size) const override;
  // Where the text sits within the bounds (vertically centred).
  virtual Rect textRectForBounds(const Rect& bounds, int numberOfLines) const;
  void drawRect(const Rect& rect) override;
  virtual void drawTextInRect(const Rect& rect);
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  std::string text_;
  Font font_ = Font::systemFont(17);
  Color textColor_ = Color::black();
  std::optional<Color> highlightedColor_;
  bool highlighted_ = false, enabled_ = true;
  TextAlignment alignment_ = TextAlignment::Left;
  LineBreakMode lineBreak_ = LineBreakMode::TruncateTail;
  int lines_ = 1;
  std::optional<Color> shadowColor_;
  Size shadowOffset_{0, -1};
  bool adjusts_ = false;
  double minScale_ = 0;
};

// Quotes a text for screen dumps: "…" with backslash and quote escaped, and control characters
// as escapeControlCharacters writes them.
std::string dumpQuoted(const std::string& text);

}  // namespace os
