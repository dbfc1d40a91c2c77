#include "ui/widgets/LXLabel.h"

#include <algorithm>
#include <cmath>

#include "os/graphics/GraphicsContext.h"
#include "os/views/Label.h"

namespace {

// Layout sums many fractional advances; a hair of rounding noise must not cost a whole point.
double ceilPoints(double value) { return std::ceil(value - 1e-9); }

}  // namespace

LXLabel::LXLabel() { setBackgroundColor(std::nullopt); }

LXLabel::LXLabel(const os::Rect& frame) : os::View(frame) { setBackgroundColor(std::nullopt); }

void LXLabel::setText(const std::string& text) {
  string_ = os::AttributedString(text);
  setNeedsDisplay();
}

void LXLabel::formatString() {
  os::ParagraphStyle style;
  style.alignment = os::TextAlignment::Justified;
  style.firstLineHeadIndent = 0;
  style.headIndent = 0;
  style.paragraphSpacing = kParagraphSpacing;
  style.lineSpacing = kLineSpacing;
  style.paragraphSpacingBefore = 0;
  os::TextRange all = string_.wholeRange();
  string_.setParagraphStyle(all, style);
  if (!font_) font_ = os::Font::systemFont(kDefaultFontSize);
  string_.setFont(all, *font_);
  // Without a colour the engine's default (black) is used.
  if (textColor_) string_.setColor(all, *textColor_);
}

os::TextFrame LXLabel::layoutIn(const os::Rect& rect) {
  formatString();
  return os::TextFrame::layout(string_, rect, *font_);
}

float LXLabel::textHeight(const os::Rect& rect) {
  return static_cast<float>(measureFrame(layoutIn(rect)).height);
}

os::Size LXLabel::measureFrame(const os::TextFrame& frame) {
  const auto& lines = frame.lines();
  if (lines.empty()) return {};
  double widest = 0;
  for (const os::TextLine& line : lines) widest = std::max(widest, line.width);
  // Measured in the upward-growing space: from the rectangle's top edge down to the last
  // line's baseline, plus its descent.
  const os::TextLine& last = lines.back();
  double height = frame.rect().maxY() - last.originYUp.y + last.descent;
  return {ceilPoints(widest), ceilPoints(height)};
}

void LXLabel::drawRect(const os::Rect&) {
  os::GraphicsContext* context = os::currentGraphicsContext();
  if (!context) return;
  // The engine's frames are already in the view's downward y space: no flip is needed.
  context->drawTextFrame(layoutIn(bounds()));
}

std::string LXLabel::linkAtPoint(os::Point point) {
  os::TextFrame frame = layoutIn(bounds());
  for (const os::TextLine& line : frame.lines()) {
    if (point.y < line.origin.y - line.ascent || point.y >= line.origin.y + line.descent) continue;
    double x = point.x - line.origin.x;
    for (const os::TextRun& run : line.runs)
      if (x >= run.x && x < run.x + run.width) return run.link;
    return {};
  }
  return {};
}

void LXLabel::describeForDump(std::vector<std::string>& parts) const {
  if (string_.length() > 0) parts.push_back("text=" + os::dumpQuoted(string_.string()));
}
