#include "os/graphics/AttributedString.h"

#include "os/core/Error.h"
#include "os/graphics/TextUtf8.h"

namespace os {

AttributedString::AttributedString(std::string text, TextAttributes attributes)
    : text_(std::move(text)), length_(textutf8::utf16Length(text_)) {
  if (length_ > 0) runs_.push_back({{0, length_}, std::move(attributes)});
}

void AttributedString::splitAt(std::size_t index) {
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    Run& r = runs_[i];
    if (index > r.range.location && index < r.range.end()) {
      Run tail{{index, r.range.end() - index}, r.attributes};
      r.range.length = index - r.range.location;
      runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
      return;
    }
  }
}

void AttributedString::merge() {
  std::vector<Run> out;
  for (Run& r : runs_) {
    if (r.range.length == 0) continue;
    if (!out.empty() && out.back().attributes == r.attributes)
      out.back().range.length += r.range.length;
    else
      out.push_back(std::move(r));
  }
  runs_ = std::move(out);
}

template <class F>
void AttributedString::apply(TextRange r, F&& change) {
  if (r.location > length_ || r.length > length_ - r.location)
    throw Exception(kRangeException, "Range {" + std::to_string(r.location) + ", " + std::to_string(r.length) +
                                         "} out of bounds; string length " + std::to_string(length_));
  if (r.length == 0) return;
  splitAt(r.location);
  splitAt(r.end());
  for (Run& run : runs_)
    if (run.range.location >= r.location && run.range.end() <= r.end()) change(run.attributes);
  merge();
}

void AttributedString::setFont(TextRange r, const Font& font) {
  apply(r, [&](TextAttributes& a) { a.font = font; });
}
void AttributedString::setColor(TextRange r, const Color& color) {
  apply(r, [&](TextAttributes& a) { a.color = color; });
}
void AttributedString::setUnderline(TextRange r, bool on) {
  apply(r, [&](TextAttributes& a) { a.underline = on; });
}
void AttributedString::setLink(TextRange r, const std::string& link) {
  apply(r, [&](TextAttributes& a) { a.link = link; });
}
void AttributedString::setParagraphStyle(TextRange r, const ParagraphStyle& style) {
  apply(r, [&](TextAttributes& a) { a.paragraphStyle = style; });
}

void AttributedString::append(const std::string& text, const TextAttributes& attributes) {
  std::size_t n = textutf8::utf16Length(text);
  text_ += text;
  if (n == 0) return;
  runs_.push_back({{length_, n}, attributes});
  length_ += n;
  merge();
}

TextAttributes AttributedString::attributesAt(std::size_t index) const {
  for (const Run& r : runs_)
    if (index >= r.range.location && index < r.range.end()) return r.attributes;
  return runs_.empty() ? TextAttributes{} : runs_.back().attributes;
}

}  // namespace os
