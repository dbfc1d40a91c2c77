#include "os/views/SearchBar.h"

#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/TextField.h"

namespace os {

// The text field's delegate, passing its events on as the bar's.
class SearchBar::Bridge : public TextFieldDelegate {
 public:
  explicit Bridge(SearchBar* bar) : bar_(bar) {}
  bool textFieldShouldBeginEditing(TextField&) override {
    auto d = bar_ ? bar_->delegate() : nullptr;
    return !d || d->searchBarShouldBeginEditing(*bar_);
  }
  void textFieldDidBeginEditing(TextField&) override {
    if (auto d = bar_ ? bar_->delegate() : nullptr) d->searchBarTextDidBeginEditing(*bar_);
  }
  void textFieldDidEndEditing(TextField&) override {
    if (auto d = bar_ ? bar_->delegate() : nullptr) d->searchBarTextDidEndEditing(*bar_);
  }
  bool textFieldShouldReturn(TextField&) override {
    if (auto d = bar_ ? bar_->delegate() : nullptr) d->searchBarSearchButtonClicked(*bar_);
    return true;
  }
  SearchBar* bar_;
};

SearchBar::SearchBar() {
  setFrame(Rect(0, 0, 320, 44));
  field_ = std::make_shared<TextField>();
  field_->setBorderStyle(TextBorderStyle::RoundedRect);
  field_->setReturnKeyType(ReturnKeyType::Search);
  bridge_ = std::make_shared<Bridge>(this);
  field_->setDelegate(bridge_);
  field_->addTarget(this, [this](Control&) {
    if (auto d = delegate()) d->textDidChange(*this, field_->text());
  }, kControlEventEditingChanged);
  addSubview(field_);
  cancel_ = Button::buttonWithType(ButtonType::Custom);
  cancel_->setTitle("Cancel", kControlStateNormal);
  cancel_->addTarget(this, [this](Control&) {
    if (auto d = delegate()) d->searchBarCancelButtonClicked(*this);
  }, kControlEventTouchUpInside);
}

SearchBar::SearchBar(const Rect& frame) : SearchBar() { setFrame(frame); }

SearchBar::~SearchBar() {
  bridge_->bar_ = nullptr;
  field_->removeTarget(this, kControlEventAllEvents);
  cancel_->removeTarget(this, kControlEventAllEvents);
}

const std::string& SearchBar::text() const { return field_->text(); }

void SearchBar::setText(std::string t) {
  field_->setText(std::move(t));
  if (auto d = delegate()) d->textDidChange(*this, field_->text());
}

const std::string& SearchBar::placeholder() const { return field_->placeholder(); }

void SearchBar::setPlaceholder(std::string p) { field_->setPlaceholder(std::move(p)); }

void SearchBar::setShowsCancelButton(bool s, bool) {
  showsCancel_ = s;
  if (s) addSubview(cancel_);
  else cancel_->removeFromSuperview();
  setNeedsLayout();
}

bool SearchBar::becomeFirstResponder() { return field_->becomeFirstResponder(); }

bool SearchBar::resignFirstResponder() { return field_->resignFirstResponder(); }

void SearchBar::layoutSubviews() {
  Rect b = bounds();
  double cancelWidth = showsCancel_ ? 60 : 0;
  field_->setFrame(Rect(8, 7, b.size.width - 16 - cancelWidth, b.size.height - 14));
  if (showsCancel_) cancel_->setFrame(Rect(b.size.width - cancelWidth - 4, 7, cancelWidth, b.size.height - 14));
}

void SearchBar::describeForDump(std::vector<std::string>& parts) const {
  if (!text().empty()) parts.push_back("text=" + dumpQuoted(text()));
  else if (!placeholder().empty()) parts.push_back("placeholder=" + dumpQuoted(placeholder()));
}

}  // namespace os
