#include "os/views/AlertView.h"

#include <algorithm>
#include <cmath>

#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/graphics/TextLayout.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Screen.h"
#include "os/views/TextField.h"
#include "os/views/Window.h"

namespace os {

namespace {
std::vector<std::shared_ptr<AlertBaseView>>& alertRegistry() {
  static std::vector<std::shared_ptr<AlertBaseView>> list;
  return list;
}
std::vector<std::shared_ptr<AlertBaseView>>& sheetRegistry() {
  static std::vector<std::shared_ptr<AlertBaseView>> list;
  return list;
}
}  // namespace

long AlertBaseView::addButtonWithTitle(std::string title) {
  titles_.push_back(std::move(title));
  return static_cast<long>(titles_.size()) - 1;
}

std::string AlertBaseView::buttonTitleAtIndex(long index) const {
  if (index < 0 || index >= numberOfButtons()) {
    throw Exception(kRangeException, format("button index %ld beyond %ld buttons", index, numberOfButtons()));
  }
  return titles_[static_cast<std::size_t>(index)];
}

long AlertBaseView::indexOfButtonWithTitle(const std::string& title) const {
  auto it = std::find(titles_.begin(), titles_.end(), title);
  return it == titles_.end() ? -1 : static_cast<long>(it - titles_.begin());
}

std::shared_ptr<Button> AlertBaseView::buttonAtIndex(long index) const {
  if (index < 0 || index >= static_cast<long>(buttons_.size())) return nullptr;
  return buttons_[static_cast<std::size_t>(index)];
}

void AlertBaseView::present() {
  if (visible_) return;
  auto self = std::static_pointer_cast<AlertBaseView>(shared_from_this());
  for (auto& b : buttons_) b->removeFromSuperview();
  buttons_.clear();
  Rect screen = Screen::main().bounds();
  bool sheet = sheetLayout();
  double width = sheet ? screen.size.width : 280;
  double y = 10;
  // Content above the buttons (labels are rebuilt on every show).
  for (auto& sub : std::vector<std::shared_ptr<View>>(subviews())) sub->removeFromSuperview();
  if (!title_.empty()) {
    auto label = std::make_shared<Label>();
    label->setText(title_);
    label->setFont(sheet ? Font::systemFont(13) : Font::boldSystemFont(17));
    label->setTextAlignment(TextAlignment::Center);
    label->setNumberOfLines(0);
    Size s = label->sizeThatFits(Size{width - 24, 0});
    label->setFrame(Rect(12, y, width - 24, s.height));
    addSubview(label);
    y += s.height + 8;
  }
  buildContent(width, y);
  std::weak_ptr<AlertBaseView> weak = self;
  for (std::size_t i = 0; i < titles_.size(); ++i) {
    auto button = Button::buttonWithType(ButtonType::RoundedRect);
    button->setTitle(titles_[i], kControlStateNormal);
    button->setTag(static_cast<int>(i) + 1);
    long index = static_cast<long>(i);
    button->addTarget(nullptr, [weak, index](Control&) {
      if (auto s = weak.lock()) s->buttonTapped(index);
    }, kControlEventTouchUpInside);
    buttons_.push_back(button);
  }
  const double buttonHeight = 44, gap = 8, margin = sheet ? 20 : 12;
  if (!sheet && buttons_.size() == 2) {
    double w = (width - 2 * margin - gap) / 2;
    buttons_[0]->setFrame(Rect(margin, y, w, buttonHeight));
    buttons_[1]->setFrame(Rect(margin + w + gap, y, w, buttonHeight));
    y += buttonHeight + gap;
  } else {
    for (auto& b : buttons_) {
      b->setFrame(Rect(margin, y, width - 2 * margin, buttonHeight));
      y += buttonHeight + gap;
    }
  }
  for (auto& b : buttons_) addSubview(b);
  y += 4;
  if (sheet) setFrame(Rect(0, screen.size.height - y, width, y));
  else setFrame(Rect(std::round((screen.size.width - width) / 2), std::round((screen.size.height - y) / 2), width, y));
  setBackgroundColor(sheet ? Color::rgba(0.1, 0.1, 0.1, 0.9) : Color::rgba(0.05, 0.1, 0.3, 0.9));
  tellWillPresent();
  overlay_ = std::make_shared<Window>(screen);
  overlay_->setWindowLevel(kWindowLevelAlert);
  overlay_->setBackgroundColor(Color::black().withAlpha(0.4));
  overlay_->addSubview(self);
  overlay_->setHidden(false);
  visible_ = true;
  registry().push_back(self);
  RunLoop::main()->post([self] {
    if (self->visible_) self->tellDidPresent();
  });
}

void AlertBaseView::buttonTapped(long index) {
  auto self = std::static_pointer_cast<AlertBaseView>(shared_from_this());
  if (!visible_ || dismissing_) return;
  tellClicked(index);
  dismissWithClickedButtonIndex(index, true);
}

void AlertBaseView::dismissWithClickedButtonIndex(long index, bool) {
  if (!visible_ || dismissing_) return;
  auto self = std::static_pointer_cast<AlertBaseView>(shared_from_this());
  dismissing_ = true;
  tellWillDismiss(index);
  visible_ = false;
  auto& list = registry();
  list.erase(std::remove(list.begin(), list.end(), self), list.end());
  endEditing(true);
  removeFromSuperview();
  if (overlay_) overlay_->setHidden(true);
  overlay_.reset();
  dismissing_ = false;
  RunLoop::main()->post([self, index] { self->tellDidDismiss(index); });
}

void AlertBaseView::describeForDump(std::vector<std::string>& parts) const {
  if (!title_.empty()) parts.push_back("title=" + dumpQuoted(title_));
}

// ----- alert view -----

AlertView::AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
                     std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : message_(std::move(message)), delegate_(std::move(delegate)) {
  title_ = std::move(title);
  if (cancelButtonTitle) cancelIndex_ = addButtonWithTitle(*cancelButtonTitle);
  for (auto& t : otherButtonTitles) {
    long i = addButtonWithTitle(t);
    if (firstOtherIndex_ < 0) firstOtherIndex_ = i;
  }
}

std::vector<std::shared_ptr<AlertBaseView>>& AlertView::registry() { return alertRegistry(); }

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlertViews() {
  std::vector<std::shared_ptr<AlertView>> out;
  for (auto& a : alertRegistry()) {
    out.push_back(std::static_pointer_cast<AlertView>(a));
  }
  return out;
}

void AlertView::setAlertViewStyle(AlertViewStyle s) {
  style_ = s;
  fields_.clear();
  int count = s == AlertViewStyle::Default ? 0 : s == AlertViewStyle::LoginAndPasswordInput ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    auto f = std::make_shared<TextField>();
    f->setSecureTextEntry(s == AlertViewStyle::SecureTextInput || (s == AlertViewStyle::LoginAndPasswordInput && i == 1));
    fields_.push_back(f);
  }
}

std::shared_ptr<TextField> AlertView::textFieldAtIndex(long index) const {
  if (index < 0 || index >= static_cast<long>(fields_.size())) {
    throw Exception(kRangeException, format("text field index %ld beyond the alert's %zu fields", index, fields_.size()));
  }
  return fields_[static_cast<std::size_t>(index)];
}

void AlertView::show() { present(); }

void AlertView::buildContent(double width, double& y) {
  if (!message_.empty()) {
    auto label = std::make_shared<Label>();
    label->setText(message_);
    label->setFont(Font::systemFont(16));
    label->setTextAlignment(TextAlignment::Center);
    label->setNumberOfLines(0);
    Size s = label->sizeThatFits(Size{width - 24, 0});
    label->setFrame(Rect(12, y, width - 24, s.height));
    addSubview(label);
    y += s.height + 8;
  }
  for (auto& f : fields_) {
    f->setFrame(Rect(12, y, width - 24, 29));
    addSubview(f);
    y += 29 + 6;
  }
}

void AlertView::tellClicked(long i) {
  if (auto d = delegate()) d->clickedButtonAtIndex(*this, i);
}
void AlertView::tellWillPresent() {
  if (auto d = delegate()) d->willPresentAlertView(*this);
}
void AlertView::tellDidPresent() {
  if (auto d = delegate()) d->didPresentAlertView(*this);
}
void AlertView::tellWillDismiss(long i) {
  if (auto d = delegate()) d->willDismissWithButtonIndex(*this, i);
}
void AlertView::tellDidDismiss(long i) {
  if (auto d = delegate()) d->didDismissWithButtonIndex(*this, i);
}

// ----- action sheet -----

ActionSheet::ActionSheet(std::string title, std::weak_ptr<ActionSheetDelegate> delegate, std::optional<std::string> cancelButtonTitle,
                         std::optional<std::string> destructiveButtonTitle, std::vector<std::string> otherButtonTitles)
    : delegate_(std::move(delegate)) {
  title_ = std::move(title);
  if (destructiveButtonTitle) destructiveIndex_ = addButtonWithTitle(*destructiveButtonTitle);
  for (auto& t : otherButtonTitles) {
    long i = addButtonWithTitle(t);
    if (firstOtherIndex_ < 0) firstOtherIndex_ = i;
  }
  if (cancelButtonTitle) cancelIndex_ = addButtonWithTitle(*cancelButtonTitle);
}

std::vector<std::shared_ptr<AlertBaseView>>& ActionSheet::registry() { return sheetRegistry(); }

std::vector<std::shared_ptr<ActionSheet>> ActionSheet::visibleActionSheets() {
  std::vector<std::shared_ptr<ActionSheet>> out;
  for (auto& a : sheetRegistry()) {
    out.push_back(std::static_pointer_cast<ActionSheet>(a));
  }
  return out;
}

void ActionSheet::showInView(const View&) { present(); }

void ActionSheet::tellClicked(long i) {
  if (auto d = delegate()) d->clickedButtonAtIndex(*this, i);
}
void ActionSheet::tellWillPresent() {
  if (auto d = delegate()) d->willPresentActionSheet(*this);
}
void ActionSheet::tellDidPresent() {
  if (auto d = delegate()) d->didPresentActionSheet(*this);
}
void ActionSheet::tellWillDismiss(long i) {
  if (auto d = delegate()) d->willDismissWithButtonIndex(*this, i);
}
void ActionSheet::tellDidDismiss(long i) {
  if (auto d = delegate()) d->didDismissWithButtonIndex(*this, i);
}

}  // namespace os
