#include "os/views/Label.h"

#include <cmath>

#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/graphics/TextLayout.h"

namespace os {

Label::Label() { setUserInteractionEnabled(false); }

Label::Label(const Rect& frame) : Label() { setFrame(frame); }

void Label::setText(std::string t) {
  if (t == text_) return;
  text_ = std::move(t);
  setNeedsDisplay();
}

void Label::setFont(const Font& f) {
  font_ = f;
  setNeedsDisplay();
}

void Label::setTextColor(const Color& c) {
  textColor_ = c;
  setNeedsDisplay();
}

void Label::setHighlighted(bool h) {
  highlighted_ = h;
  setNeedsDisplay();
}

void Label::setEnabled(bool e) {
  enabled_ = e;
  setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment a) {
  alignment_ = a;
  setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode m) {
  lineBreak_ = m;
  setNeedsDisplay();
}

void Label::setNumberOfLines(int n) {
  lines_ = n < 0 ? 0 : n;
  setNeedsDisplay();
}

Size Label::sizeThatFits(Size size) const {
  if (text_.empty()) return Size{0, 0};
  if (lines_ == 1) return sizeWithFont(text_, font_);
  double width = size.width > 0 ? size.width : 1e9;
  double height = lines_ > 0 ? lines_ * font_.lineHeight() : 1e9;
  return sizeWithFont(text_, font_, Size{width, height}, LineBreakMode::WordWrap);
}

Rect Label::textRectForBounds(const Rect& bounds, int numberOfLines) const {
  if (text_.empty()) return Rect(bounds.origin, Size{0, 0});
  Size s;
  if (numberOfLines == 1) {
    s = sizeWithFont(text_, font_);
    s.width = std::min(s.width, bounds.size.width);
  } else {
    double height = numberOfLines > 0 ? std::min(bounds.size.height, numberOfLines * font_.lineHeight()) : bounds.size.height;
    s = sizeWithFont(text_, font_, Size{bounds.size.width, height}, LineBreakMode::WordWrap);
  }
  s.height = std::min(s.height, bounds.size.height);
  double y = bounds.origin.y + std::floor((bounds.size.height - s.height) / 2);
  return Rect(bounds.origin.x, y, bounds.size.width, s.height);
}

void Label::drawRect(const Rect& rect) { drawTextInRect(textRectForBounds(bounds(), lines_)); }

void Label::drawTextInRect(const Rect& rect) {
  GraphicsContext* context = currentGraphicsContext();
  if (!context || text_.empty()) return;
  Color color = highlighted_ && highlightedColor_ ? *highlightedColor_ : textColor_;
  if (!enabled_) color = color.withAlpha(color.a * 0.44);
  context->saveState();
  if (shadowColor_) {
    context->setFillColor(*shadowColor_);
    context->drawText(text_, rect.offsetBy(shadowOffset_.width, shadowOffset_.height), font_, lineBreak_, alignment_);
  }
  context->setFillColor(color);
  // The engine wraps, then truncates or clips the last line that fits the rectangle.
  context->drawText(text_, rect, font_, lineBreak_, alignment_);
  context->restoreState();
}

void Label::describeForDump(std::vector<std::string>& parts) const {
  if (!text_.empty()) parts.push_back("text=" + dumpQuoted(text_));
}

std::string dumpQuoted(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  // A text from outside (a server's headline) must not play tricks on the terminal it prints on.
  return "\"" + escapeControlCharacters(out) + "\"";
}

}  // namespace os
