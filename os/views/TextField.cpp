#include "os/views/TextField.h"

#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Label.h"

namespace os {

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Byte offset where the character (or invalid sequence) holding byte `offset` starts, found by
// looking back a few bytes rather than decoding from the front.
std::size_t characterStart(std::string_view s, std::size_t offset) {
  if (offset >= s.size()) return s.size();
  // Any other byte always starts a character: no sequence takes it in after its first byte.
  if (!isContinuationByte(s[offset])) return offset;
  // A first byte takes at most three continuation bytes, so one further back than that leaves
  // `offset` standing alone.
  std::size_t lead = offset;
  for (std::size_t back = 1; back <= 3 && back <= offset; ++back)
    if (!isContinuationByte(s[offset - back])) {
      lead = offset - back;
      break;
    }
  for (std::size_t i = lead;;) {
    std::size_t len = 0;
    decodeUTF8At(s, i, &len);
    if (i + len > offset) return i;
    i += len;
  }
}

}  // namespace

TextRange lastCharacterRange(const std::string& text) {
  std::size_t len = utf16Length(text);
  if (len == 0) return TextRange{0, 0};
  char16_t last = characterAtUTF16Index(text, len - 1);
  bool pair = last >= 0xDC00 && last <= 0xDFFF && len >= 2;
  return pair ? TextRange{len - 2, 2} : TextRange{len - 1, 1};
}

std::optional<std::string> replacingUTF16Range(const std::string& text, TextRange range, const std::string& replacement) {
  std::size_t len = utf16Length(text);
  if (range.location > len || range.length > len - range.location) return std::nullopt;
  auto start = byteOffsetForUTF16Index(text, range.location);
  auto end = byteOffsetForUTF16Index(text, range.location + range.length);
  if (!start || !end) return std::nullopt;
  return text.substr(0, *start) + replacement + text.substr(*end);
}

bool replaceUTF16RangeInPlace(std::string& text, std::size_t& units, TextRange range, const std::string& replacement) {
  if (range.location > units || range.length > units - range.location) return false;
  std::size_t start = text.size(), end = text.size();
  if (range.length != 0 || range.location != units) {
    auto from = byteOffsetForUTF16Index(text, range.location);
    auto to = byteOffsetForUTF16Index(text, range.location + range.length);
    if (!from || !to) return false;
    start = *from;
    end = *to;
  }
  // What the edit really changes in units: a range edge inside a surrogate pair takes the whole
  // character, and bytes typed in pieces join the bytes beside them into one character. Only a
  // window around the edit is counted before and after: characters starting four bytes or more
  // before it decode as they did, and so does everything from a character start after it.
  const std::size_t windowStart = characterStart(text, start >= 4 ? start - 4 : 0);
  std::size_t windowEnd = end;
  while (windowEnd < text.size() && windowEnd < end + 3 && isContinuationByte(text[windowEnd]))
    ++windowEnd;
  const std::size_t before = utf16Length(std::string_view(text).substr(windowStart, windowEnd - windowStart));
  if (start == text.size()) text += replacement;
  else text.replace(start, end - start, replacement);
  const std::size_t newWindowEnd = windowEnd - (end - start) + replacement.size();
  units = units - before + utf16Length(std::string_view(text).substr(windowStart, newWindowEnd - windowStart));
  return true;
}

TextField::TextField() { setFrame(Rect(0, 0, 100, 31)); }

TextField::TextField(const Rect& frame) { setFrame(frame); }

void TextField::setText(std::string t) {
  text_ = std::move(t);
  length_ = utf16Length(text_);
  setNeedsDisplay();
}

bool TextField::replaceCharactersInRange(TextRange range, const std::string& replacement) {
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->shouldChangeCharactersInRange(*this, range, replacement)) return false;
  if (!replaceUTF16RangeInPlace(text_, length_, range, replacement)) return false;
  setNeedsDisplay();
  sendActionsForControlEvents(kControlEventEditingChanged);
  NotificationCenter::defaultCenter().post(kTextFieldTextDidChangeNotification, this);
  return true;
}

bool TextField::insertText(const std::string& text) {
  if (text == "\n") return pressReturn();
  return replaceCharactersInRange(TextRange{length_, 0}, text);
}

bool TextField::deleteBackward() {
  if (text_.empty()) return false;
  return replaceCharactersInRange(lastCharacterRange(text_), "");
}

bool TextField::pressReturn() {
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->textFieldShouldReturn(*this)) return false;
  sendActionsForControlEvents(kControlEventEditingDidEndOnExit);
  return true;
}

bool TextField::clear() {
  if (auto d = delegate(); d && !d->textFieldShouldClear(*this)) return false;
  text_.clear();
  length_ = 0;
  setNeedsDisplay();
  sendActionsForControlEvents(kControlEventEditingChanged);
  NotificationCenter::defaultCenter().post(kTextFieldTextDidChangeNotification, this);
  return true;
}

bool TextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  if (auto d = delegate(); d && !d->textFieldShouldBeginEditing(*this)) return false;
  return Responder::becomeFirstResponder();
}

bool TextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  if (auto d = delegate(); d && !d->textFieldShouldEndEditing(*this)) return false;
  return Responder::resignFirstResponder();
}

void TextField::didBecomeFirstResponder() {
  auto keep = weak_from_this().lock();
  editing_ = true;
  if (clearsOnBegin_) {
    text_.clear();
    length_ = 0;
  }
  if (auto app = Application::shared()) app->showKeyboard();
  if (auto d = delegate()) d->textFieldDidBeginEditing(*this);
  sendActionsForControlEvents(kControlEventEditingDidBegin);
  NotificationCenter::defaultCenter().post(kTextFieldTextDidBeginEditingNotification, this);
}

void TextField::didResignFirstResponder() {
  auto keep = weak_from_this().lock();
  editing_ = false;
  if (auto d = delegate()) d->textFieldDidEndEditing(*this);
  sendActionsForControlEvents(kControlEventEditingDidEnd);
  NotificationCenter::defaultCenter().post(kTextFieldTextDidEndEditingNotification, this);
  if (!Responder::currentFirstResponder()) {
    if (auto app = Application::shared()) app->hideKeyboard();
  }
}

void TextField::didTapInside(const Touch&) { becomeFirstResponder(); }

void TextField::drawRect(const Rect&) {
  GraphicsContext* context = currentGraphicsContext();
  if (!context) return;
  Rect r = bounds().insetBy(border_ == TextBorderStyle::None ? 0 : 4, 0);
  std::string shown = secure_ ? std::string(length_ * 3, '\0') : text_;
  if (secure_) {
    shown.clear();
    for (std::size_t i = 0; i < length_; ++i) shown += "\u2022";
  }
  context->saveState();
  if (shown.empty()) {
    context->setFillColor(Color::withWhite(0.7));
    context->drawText(placeholder_, r, font_, LineBreakMode::TruncateTail, alignment_);
  } else {
    context->setFillColor(textColor_);
    context->drawText(shown, r, font_, LineBreakMode::TruncateTail, alignment_);
  }
  context->restoreState();
}

void TextField::describeForDump(std::vector<std::string>& parts) const {
  if (!text_.empty()) parts.push_back("text=" + dumpQuoted(secure_ ? std::string("***") : text_));
  else if (!placeholder_.empty()) parts.push_back("placeholder=" + dumpQuoted(placeholder_));
  if (editing_) parts.push_back("editing");
}

}  // namespace os
