#include "os/views/Switch.h"

#include <algorithm>

#include "os/core/String.h"

namespace os {

Switch::Switch() { Control::setFrame(Rect(0, 0, 79, 27)); }

Switch::Switch(const Rect& frame) : Switch() { setFrame(frame); }

// A switch keeps its own size; only the origin of a frame counts.
void Switch::setFrame(const Rect& frame) { Control::setFrame(Rect(frame.origin, Size{79, 27})); }

void Switch::setOn(bool on, bool) {
  on_ = on;
  setNeedsDisplay();
}

void Switch::didTapInside(const Touch&) {
  setOn(!on_, true);
  sendActionsForControlEvents(kControlEventValueChanged);
}

void Switch::describeForDump(std::vector<std::string>& parts) const {
  parts.push_back(on_ ? "on" : "off");
  if (!isEnabled()) parts.push_back("disabled");
}

PageControl::PageControl() { setFrame(Rect(0, 0, 0, 36)); }

void PageControl::setNumberOfPages(long n) {
  pages_ = std::max(0L, n);
  setCurrentPage(current_);
  updateHidden();
}

void PageControl::setCurrentPage(long page) {
  current_ = pages_ == 0 ? 0 : std::clamp(page, 0L, pages_ - 1);
  if (!defers_) shownPage_ = current_;
  setNeedsDisplay();
}

void PageControl::setHidesForSinglePage(bool h) {
  hidesSingle_ = h;
  updateHidden();
}

void PageControl::updateHidden() {
  if (hidesSingle_) setHidden(pages_ <= 1);
}

Size PageControl::sizeForNumberOfPages(long n) const { return Size{static_cast<double>(std::max(0L, n)) * 16, 36}; }

void PageControl::didTapInside(const Touch& touch) {
  Point p = touch.locationInView(this);
  long before = current_;
  setCurrentPage(p.x < bounds().midX() ? current_ - 1 : current_ + 1);
  if (current_ != before) sendActionsForControlEvents(kControlEventValueChanged);
}

void PageControl::describeForDump(std::vector<std::string>& parts) const {
  parts.push_back(format("page=%ld/%ld", displayedPage() + 1, pages_));
}

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorViewStyle style) : style_(style) {
  setUserInteractionEnabled(false);
  setStyle(style);
  setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorViewStyle s) {
  style_ = s;
  double side = s == ActivityIndicatorViewStyle::WhiteLarge ? 37 : 20;
  Point c = center();
  setBounds(Rect(0, 0, side, side));
  setCenter(c);
}

Size ActivityIndicatorView::sizeThatFits(Size) const {
  double side = style_ == ActivityIndicatorViewStyle::WhiteLarge ? 37 : 20;
  return Size{side, side};
}

void ActivityIndicatorView::startAnimating() {
  animating_ = true;
  if (hidesWhenStopped_) setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool h) {
  hidesWhenStopped_ = h;
  setHidden(h && !animating_);
}

void ActivityIndicatorView::describeForDump(std::vector<std::string>& parts) const {
  if (animating_) parts.push_back("animating");
}

}  // namespace os
