#include "os/views/Button.h"

#include <algorithm>
#include <cmath>

#include "os/graphics/TextLayout.h"

namespace os {

Button::Button(ButtonType type) : type_(type) {
  backgroundView_ = std::make_shared<ImageView>();
  imageView_ = std::make_shared<ImageView>();
  titleLabel_ = std::make_shared<Label>();
  titleLabel_->setFont(type == ButtonType::Custom ? Font::boldSystemFont(15) : Font::boldSystemFont(15));
  titleLabel_->setTextAlignment(TextAlignment::Center);
  titleLabel_->setLineBreakMode(LineBreakMode::TruncateMiddle);
  addSubview(backgroundView_);
  addSubview(imageView_);
  addSubview(titleLabel_);
  Color standard = type == ButtonType::Custom ? Color::white() : Color::rgba(0.22, 0.33, 0.53, 1);
  titleColors_[kControlStateNormal] = standard;
  if (type != ButtonType::Custom) titleColors_[kControlStateHighlighted] = Color::white();
  if (type == ButtonType::DetailDisclosure || type == ButtonType::InfoLight || type == ButtonType::InfoDark ||
      type == ButtonType::ContactAdd) {
    setFrame(Rect(0, 0, 22, 22));
  }
  refresh();
}

std::shared_ptr<Button> Button::buttonWithType(ButtonType type) { return std::make_shared<Button>(type); }

template <class T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& table, unsigned state) {
  if (auto it = table.find(state); it != table.end()) return it->second;
  // Selected and highlighted together: the selected value, then the normal one.
  if ((state & kControlStateSelected) && (state & kControlStateHighlighted)) {
    if (auto it = table.find(kControlStateSelected); it != table.end()) return it->second;
  }
  if (auto it = table.find(kControlStateNormal); it != table.end()) return it->second;
  return std::nullopt;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
  titles_[state] = std::move(title);
  refresh();
}

std::optional<std::string> Button::titleForState(unsigned state) const {
  auto v = lookup(titles_, state);
  if (!v) return std::nullopt;
  return *v;
}

void Button::setTitleColor(std::optional<Color> c, unsigned state) {
  if (c) titleColors_[state] = *c;
  else titleColors_.erase(state);
  refresh();
}

std::optional<Color> Button::titleColorForState(unsigned state) const { return lookup(titleColors_, state); }

void Button::setTitleShadowColor(std::optional<Color> c, unsigned state) {
  if (c) shadowColors_[state] = *c;
  else shadowColors_.erase(state);
  refresh();
}

void Button::setImage(std::shared_ptr<Image> image, unsigned state) {
  if (image) images_[state] = std::move(image);
  else images_.erase(state);
  refresh();
}

std::shared_ptr<Image> Button::imageForState(unsigned state) const { return lookup(images_, state).value_or(nullptr); }

void Button::setBackgroundImage(std::shared_ptr<Image> image, unsigned state) {
  if (image) backgrounds_[state] = std::move(image);
  else backgrounds_.erase(state);
  refresh();
}

std::shared_ptr<Image> Button::backgroundImageForState(unsigned state) const {
  return lookup(backgrounds_, state).value_or(nullptr);
}

Color Button::currentTitleColor() const { return titleColorForState(state()).value_or(Color::white()); }

void Button::setContentEdgeInsets(EdgeInsets i) {
  contentInsets_ = i;
  setNeedsLayout();
}
void Button::setTitleEdgeInsets(EdgeInsets i) {
  titleInsets_ = i;
  setNeedsLayout();
}
void Button::setImageEdgeInsets(EdgeInsets i) {
  imageInsets_ = i;
  setNeedsLayout();
}

void Button::setEnabled(bool e) {
  Control::setEnabled(e);
  refresh();
}
void Button::setSelected(bool s) {
  Control::setSelected(s);
  refresh();
}
void Button::setHighlighted(bool h) {
  Control::setHighlighted(h);
  refresh();
}

void Button::refresh() {
  unsigned s = state();
  titleLabel_->setText(titleForState(s).value_or(""));
  titleLabel_->setTextColor(currentTitleColor());
  if (auto shadow = lookup(shadowColors_, s)) titleLabel_->setShadowColor(*shadow);
  imageView_->setImage(imageForState(s));
  backgroundView_->setImage(backgroundImageForState(s));
  setNeedsLayout();
}

Size Button::titleSize() const {
  std::string t = titleLabel_->text();
  return t.empty() ? Size{} : sizeWithFont(t, titleLabel_->font());
}

Size Button::imageSize() const {
  auto img = imageView_->image();
  return img ? img->size() : Size{};
}

Rect Button::contentRectForBounds(const Rect& b) const { return insetRect(b, contentInsets_); }

// Image then title side by side, placed as a group by the content alignment; each part's own
// insets then move it within its share.
Rect Button::imageRectForContentRect(const Rect& c) const {
  Size is = imageSize(), ts = titleSize();
  double total = is.width + ts.width;
  double x = c.origin.x;
  switch (contentHorizontalAlignment()) {
    case ControlContentHorizontalAlignment::Center: x = c.origin.x + std::round((c.size.width - total) / 2); break;
    case ControlContentHorizontalAlignment::Right: x = c.maxX() - total; break;
    default: break;
  }
  double y = c.origin.y + std::round((c.size.height - is.height) / 2);
  if (contentVerticalAlignment() == ControlContentVerticalAlignment::Top) y = c.origin.y;
  if (contentVerticalAlignment() == ControlContentVerticalAlignment::Bottom) y = c.maxY() - is.height;
  Rect r(x, y, is.width, is.height);
  return r.offsetBy(imageInsets_.left - imageInsets_.right, imageInsets_.top - imageInsets_.bottom);
}

Rect Button::titleRectForContentRect(const Rect& c) const {
  Size is = imageSize(), ts = titleSize();
  double available = std::max(0.0, c.size.width - is.width);
  ts.width = std::min(ts.width, available);
  double total = is.width + ts.width;
  double x = c.origin.x + is.width;
  switch (contentHorizontalAlignment()) {
    case ControlContentHorizontalAlignment::Center: x = c.origin.x + std::round((c.size.width - total) / 2) + is.width; break;
    case ControlContentHorizontalAlignment::Right: x = c.maxX() - ts.width; break;
    default: break;
  }
  double y = c.origin.y + std::round((c.size.height - ts.height) / 2);
  if (contentVerticalAlignment() == ControlContentVerticalAlignment::Top) y = c.origin.y;
  if (contentVerticalAlignment() == ControlContentVerticalAlignment::Bottom) y = c.maxY() - ts.height;
  Rect r(x, y, ts.width, ts.height);
  return r.offsetBy(titleInsets_.left - titleInsets_.right, titleInsets_.top - titleInsets_.bottom);
}

Size Button::sizeThatFits(Size) const {
  Size is = imageSize(), ts = titleSize();
  Size bs;
  if (auto bg = backgroundImageForState(state())) bs = bg->size();
  double w = is.width + ts.width + contentInsets_.left + contentInsets_.right;
  double h = std::max(is.height, ts.height) + contentInsets_.top + contentInsets_.bottom;
  return Size{std::max(w, bs.width), std::max(h, bs.height)};
}

void Button::layoutSubviews() {
  Rect b = bounds();
  backgroundView_->setFrame(backgroundRectForBounds(b));
  Rect c = contentRectForBounds(b);
  imageView_->setFrame(imageRectForContentRect(c));
  titleLabel_->setFrame(titleRectForContentRect(c));
  // Private parts stay at the back of the subviews, below anything the owner adds.
  sendSubviewToBack(titleLabel_.get());
  sendSubviewToBack(imageView_.get());
  sendSubviewToBack(backgroundView_.get());
}

bool Button::dumpsSubview(const View& v) const {
  return &v != titleLabel_.get() && &v != imageView_.get() && &v != backgroundView_.get();
}

void Button::describeForDump(std::vector<std::string>& parts) const {
  if (auto t = currentTitle(); t && !t->empty()) parts.push_back("title=" + dumpQuoted(*t));
  if (auto img = currentImage()) parts.push_back("image=" + imageDumpName(*img));
  if (auto bg = currentBackgroundImage()) parts.push_back("background=" + imageDumpName(*bg));
  if (isSelected()) parts.push_back("selected");
  if (!isEnabled()) parts.push_back("disabled");
}

}  // namespace os
