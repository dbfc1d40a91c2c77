#include "os/views/NavigationBar.h"

#include <algorithm>
#include <cmath>

#include "os/graphics/TextLayout.h"
#include "os/views/Button.h"
#include "os/views/Label.h"

namespace os {

// ----- bar button item -----

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::shared_ptr<Image> image, BarButtonItemStyle style, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->image_ = std::move(image);
  item->style_ = style;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
  auto item = std::make_shared<BarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem system, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->system_ = system;
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::fixedSpace(double width) {
  auto item = withSystemItem(BarButtonSystemItem::FixedSpace);
  item->width_ = width;
  return item;
}

void BarButtonItem::trigger() {
  if (!enabled_ || !action_) return;
  auto keep = weak_from_this().lock();
  auto action = action_;
  action(*this);
}

std::string BarButtonItem::displayTitle() const {
  if (!system_) return title_;
  switch (*system_) {
    case BarButtonSystemItem::Done: return "Done";
    case BarButtonSystemItem::Cancel: return "Cancel";
    case BarButtonSystemItem::Edit: return "Edit";
    case BarButtonSystemItem::Save: return "Save";
    case BarButtonSystemItem::Undo: return "Undo";
    case BarButtonSystemItem::Redo: return "Redo";
    case BarButtonSystemItem::Add: return "+";
    default: return title_;
  }
}

std::shared_ptr<View> makeBarItemView(const std::shared_ptr<BarButtonItem>& item) {
  if (item->customView()) return item->customView();
  auto button = Button::buttonWithType(ButtonType::Custom);
  std::string title = item->displayTitle();
  if (!title.empty()) button->setTitle(title, kControlStateNormal);
  if (item->image()) button->setImage(item->image(), kControlStateNormal);
  button->setEnabled(item->isEnabled());
  std::weak_ptr<BarButtonItem> weak = item;
  button->addTarget(nullptr, [weak](Control&) {
    if (auto i = weak.lock()) i->trigger();
  }, kControlEventTouchUpInside);
  Size s = button->sizeThatFits(Size{});
  double w = item->width() > 0 ? item->width() : std::max(s.width + 10, 30.0);
  button->setFrame(Rect(0, 0, w, 30));
  return button;
}

// ----- navigation item -----

void NavigationItem::changed() {
  if (onChange_) onChange_();
}
void NavigationItem::setTitle(std::string t) {
  title_ = std::move(t);
  changed();
}
void NavigationItem::setTitleView(std::shared_ptr<View> v) {
  titleView_ = std::move(v);
  changed();
}
void NavigationItem::setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
  left_ = std::move(items);
  changed();
}
void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated) {
  setLeftBarButtonItems(item ? std::vector<std::shared_ptr<BarButtonItem>>{item} : std::vector<std::shared_ptr<BarButtonItem>>{}, animated);
}
void NavigationItem::setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
  right_ = std::move(items);
  changed();
}
void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated) {
  setRightBarButtonItems(item ? std::vector<std::shared_ptr<BarButtonItem>>{item} : std::vector<std::shared_ptr<BarButtonItem>>{}, animated);
}
void NavigationItem::setBackBarButtonItem(std::shared_ptr<BarButtonItem> item) {
  back_ = std::move(item);
  changed();
}
void NavigationItem::setHidesBackButton(bool h, bool) {
  hidesBack_ = h;
  changed();
}

// ----- navigation bar -----

NavigationBar::NavigationBar() {
  setFrame(Rect(0, 0, 320, kHeight));
  setAutoresizingMask(kViewAutoresizingFlexibleWidth);
}

void NavigationBar::watch(const std::shared_ptr<NavigationItem>& item) {
  if (!item) return;
  View* self = this;
  std::weak_ptr<Responder> weak = weak_from_this();
  item->onChange_ = [weak, self] {
    if (weak.lock()) self->setNeedsLayout();
  };
}

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool) {
  for (auto& i : items_) i->onChange_ = nullptr;
  items_ = std::move(items);
  for (auto& i : items_) watch(i);
  setNeedsLayout();
}

void NavigationBar::pushNavigationItem(std::shared_ptr<NavigationItem> item, bool) {
  if (!item) return;
  watch(item);
  items_.push_back(std::move(item));
  setNeedsLayout();
}

std::shared_ptr<NavigationItem> NavigationBar::popNavigationItem(bool) {
  if (items_.empty()) return nullptr;
  auto top = items_.back();
  items_.pop_back();
  top->onChange_ = nullptr;
  setNeedsLayout();
  return top;
}

std::shared_ptr<View> NavigationBar::viewForItem(const std::shared_ptr<BarButtonItem>& item) { return makeBarItemView(item); }

void NavigationBar::layoutSubviews() {
  for (auto& v : shown_) v->removeFromSuperview();
  shown_.clear();
  backButton_.reset();
  auto top = topItem();
  if (!top) return;
  const double margin = 5, spacing = 8, w = bounds().size.width, h = bounds().size.height;
  double left = margin;
  auto place = [&](const std::shared_ptr<View>& v, double x) {
    Rect f = v->frame();
    v->setFrame(Rect(x, std::round((h - f.size.height) / 2), f.size.width, f.size.height));
    addSubview(v);
    shown_.push_back(v);
  };
  auto leftItems = top->leftBarButtonItems();
  if (leftItems.empty() && !top->hidesBackButton()) {
    if (auto back = backItem()) {
      std::string title = back->backBarButtonItem() ? back->backBarButtonItem()->title() : back->title();
      if (title.empty()) title = "Back";
      backButton_ = Button::buttonWithType(ButtonType::Custom);
      backButton_->setTitle(title, kControlStateNormal);
      Size s = backButton_->sizeThatFits(Size{});
      backButton_->setFrame(Rect(0, 0, std::max(s.width + 16, 50.0), 30));
      std::weak_ptr<Responder> weak = weak_from_this();
      NavigationBar* self = this;
      backButton_->addTarget(nullptr, [weak, self](Control&) {
        if (!weak.lock()) return;
        if (self->backAction_) self->backAction_();
        else self->popNavigationItem(true);
      }, kControlEventTouchUpInside);
      place(backButton_, left);
      left += backButton_->frame().size.width + spacing;
    }
  }
  for (auto& item : leftItems) {
    if (item->isSpace()) {
      if (item->systemItem() == BarButtonSystemItem::FixedSpace) left += item->width();
      continue;
    }
    auto v = viewForItem(item);
    place(v, left);
    left += v->frame().size.width + spacing;
  }
  double right = w - margin;
  for (auto& item : top->rightBarButtonItems()) {
    if (item->isSpace()) {
      if (item->systemItem() == BarButtonSystemItem::FixedSpace) right -= item->width();
      continue;
    }
    auto v = viewForItem(item);
    right -= v->frame().size.width;
    place(v, right);
    right -= spacing;
  }
  if (top->titleView()) {
    auto tv = top->titleView();
    Rect f = tv->frame();
    tv->setFrame(Rect(std::round((w - f.size.width) / 2), std::round((h - f.size.height) / 2), f.size.width, f.size.height));
    addSubview(tv);
    shown_.push_back(tv);
  } else if (!top->title().empty()) {
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->setText(top->title());
    titleLabel_->setFont(titleFont_);
    titleLabel_->setTextColor(titleColor_);
    titleLabel_->setTextAlignment(TextAlignment::Center);
    Size s = titleLabel_->sizeThatFits(Size{});
    double room = std::max(0.0, std::min(w - 2 * std::max(left, w - right), s.width));
    titleLabel_->setFrame(Rect(std::round((w - room) / 2), std::round((h - s.height) / 2), room, s.height));
    addSubview(titleLabel_);
    shown_.push_back(titleLabel_);
  }
}

void NavigationBar::describeForDump(std::vector<std::string>& parts) const {
  if (auto top = topItem(); top && !top->title().empty()) parts.push_back("title=" + dumpQuoted(top->title()));
}

// ----- toolbar -----

Toolbar::Toolbar() {
  setFrame(Rect(0, 0, 320, kHeight));
  setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleTopMargin);
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
  items_ = std::move(items);
  setNeedsLayout();
}

void Toolbar::layoutSubviews() {
  for (auto& v : shown_) v->removeFromSuperview();
  shown_.clear();
  const double margin = 12, spacing = 10, w = bounds().size.width, h = bounds().size.height;
  std::vector<std::shared_ptr<View>> views(items_.size());
  double used = 2 * margin;
  int flexible = 0, placed = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    auto& item = items_[i];
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) {
      ++flexible;
      continue;
    }
    if (item->systemItem() == BarButtonSystemItem::FixedSpace) {
      used += item->width();
      continue;
    }
    views[i] = makeBarItemView(item);
    used += views[i]->frame().size.width;
    ++placed;
  }
  if (placed > 1) used += spacing * (placed - 1);
  double share = flexible > 0 ? std::max(0.0, (w - used) / flexible) : 0;
  double x = margin;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    auto& item = items_[i];
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) {
      x += share;
      continue;
    }
    if (item->systemItem() == BarButtonSystemItem::FixedSpace) {
      x += item->width();
      continue;
    }
    Rect f = views[i]->frame();
    views[i]->setFrame(Rect(x, std::round((h - f.size.height) / 2), f.size.width, f.size.height));
    addSubview(views[i]);
    shown_.push_back(views[i]);
    x += f.size.width + spacing;
  }
}

}  // namespace os
