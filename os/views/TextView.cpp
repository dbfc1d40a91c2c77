#include "os/views/TextView.h"

#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Label.h"
#include "os/views/TextField.h"

namespace os {

TextView::TextView() { setBackgroundColor(Color::white()); }

TextView::TextView(const Rect& frame) : TextView() { setFrame(frame); }

void TextView::setText(std::string t) {
  text_ = std::move(t);
  length_ = utf16Length(text_);
  setNeedsDisplay();
}

void TextView::setFont(const Font& f) {
  font_ = f;
  setNeedsDisplay();
}

void TextView::setDelegate(std::weak_ptr<TextViewDelegate> d) {
  delegate_ = d;
  ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(d.lock()));
}

bool TextView::replaceCharactersInRange(TextRange range, const std::string& replacement) {
  auto keep = weak_from_this().lock();
  if (auto d = textViewDelegate(); d && !d->shouldChangeTextInRange(*this, range, replacement)) return false;
  // Typed text goes into the text in place: subclasses hear of it through the delegate and the
  // notification, as they do of any typing, not through setText.
  if (!replaceUTF16RangeInPlace(text_, length_, range, replacement)) return false;
  setNeedsDisplay();
  if (auto d = textViewDelegate()) d->textViewDidChange(*this);
  NotificationCenter::defaultCenter().post(kTextViewTextDidChangeNotification, this);
  return true;
}

bool TextView::insertText(const std::string& text) { return replaceCharactersInRange(TextRange{length_, 0}, text); }

bool TextView::deleteBackward() {
  if (text_.empty()) return false;
  return replaceCharactersInRange(lastCharacterRange(text_), "");
}

bool TextView::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  if (auto d = textViewDelegate(); d && !d->textViewShouldBeginEditing(*this)) return false;
  return Responder::becomeFirstResponder();
}

bool TextView::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  if (auto d = textViewDelegate(); d && !d->textViewShouldEndEditing(*this)) return false;
  return Responder::resignFirstResponder();
}

void TextView::didBecomeFirstResponder() {
  auto keep = weak_from_this().lock();
  editing_ = true;
  if (auto app = Application::shared()) app->showKeyboard();
  if (auto d = textViewDelegate()) d->textViewDidBeginEditing(*this);
  NotificationCenter::defaultCenter().post(kTextViewTextDidBeginEditingNotification, this);
}

void TextView::didResignFirstResponder() {
  auto keep = weak_from_this().lock();
  editing_ = false;
  if (auto d = textViewDelegate()) d->textViewDidEndEditing(*this);
  NotificationCenter::defaultCenter().post(kTextViewTextDidEndEditingNotification, this);
  if (!Responder::currentFirstResponder()) {
    if (auto app = Application::shared()) app->hideKeyboard();
  }
}

void TextView::touchesEnded(const TouchList& touches, const Event* event) {
  if (editable_) becomeFirstResponder();
  else ScrollView::touchesEnded(touches, event);
}

void TextView::drawRect(const Rect&) {
  GraphicsContext* context = currentGraphicsContext();
  if (!context || text_.empty()) return;
  context->saveState();
  context->setFillColor(textColor_);
  context->drawText(text_, bounds().insetBy(8, 8), font_, LineBreakMode::WordWrap, alignment_);
  context->restoreState();
}

void TextView::describeForDump(std::vector<std::string>& parts) const {
  if (!text_.empty()) parts.push_back("text=" + dumpQuoted(text_));
  if (editing_) parts.push_back("editing");
}

}  // namespace os
