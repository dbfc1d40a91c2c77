#include "os/views/TableViewCell.h"

#include <cmath>

#include "os/graphics/TextLayout.h"

namespace os {

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setFrame(Rect(0, 0, 320, 44));
  setBackgroundColor(Color::white());
  contentView_ = std::make_shared<View>();
  contentView_->setFrame(bounds());
  contentView_->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  addSubview(contentView_);
}

std::shared_ptr<Label> TableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = std::make_shared<Label>();
    textLabel_->setFont(Font::boldSystemFont(style_ == TableViewCellStyle::Subtitle || style_ == TableViewCellStyle::Value1 ? 17 : 20));
    textLabel_->setHighlightedTextColor(Color::white());
    contentView_->addSubview(textLabel_);
    setNeedsLayout();
  }
  return textLabel_;
}

std::shared_ptr<Label> TableViewCell::detailTextLabel() {
  if (style_ == TableViewCellStyle::Default) return nullptr;
  if (!detailTextLabel_) {
    detailTextLabel_ = std::make_shared<Label>();
    detailTextLabel_->setFont(Font::systemFont(style_ == TableViewCellStyle::Subtitle ? 14 : 17));
    detailTextLabel_->setTextColor(style_ == TableViewCellStyle::Value1 ? Color::rgba(0.22, 0.33, 0.53, 1) : Color::gray());
    detailTextLabel_->setHighlightedTextColor(Color::white());
    if (style_ == TableViewCellStyle::Value1) detailTextLabel_->setTextAlignment(TextAlignment::Right);
    contentView_->addSubview(detailTextLabel_);
    setNeedsLayout();
  }
  return detailTextLabel_;
}

std::shared_ptr<ImageView> TableViewCell::imageView() {
  if (!imageView_) {
    imageView_ = std::make_shared<ImageView>();
    contentView_->insertSubview(imageView_, 0);
    setNeedsLayout();
  }
  return imageView_;
}

void TableViewCell::setAccessoryType(TableViewCellAccessoryType a) {
  accessory_ = a;
  setNeedsLayout();
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> v) {
  if (accessoryView_) accessoryView_->removeFromSuperview();
  accessoryView_ = std::move(v);
  if (accessoryView_) addSubview(accessoryView_);
  setNeedsLayout();
}

void TableViewCell::setBackgroundView(std::shared_ptr<View> v) {
  if (backgroundView_) backgroundView_->removeFromSuperview();
  backgroundView_ = std::move(v);
  if (backgroundView_) insertSubview(backgroundView_, 0);
  setNeedsLayout();
}

void TableViewCell::setSelectedBackgroundView(std::shared_ptr<View> v) {
  if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
  selectedBackgroundView_ = std::move(v);
  setNeedsLayout();
}

void TableViewCell::setSelected(bool s, bool) {
  selected_ = s;
  bool show = (selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None;
  if (textLabel_) textLabel_->setHighlighted(show);
  if (detailTextLabel_) detailTextLabel_->setHighlighted(show);
  if (imageView_) imageView_->setHighlighted(show);
  setNeedsLayout();
}

void TableViewCell::setHighlighted(bool h, bool) {
  highlighted_ = h;
  bool show = (selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None;
  if (textLabel_) textLabel_->setHighlighted(show);
  if (detailTextLabel_) detailTextLabel_->setHighlighted(show);
  if (imageView_) imageView_->setHighlighted(show);
  setNeedsLayout();
}

void TableViewCell::prepareForReuse() {
  selected_ = false;
  highlighted_ = false;
  if (textLabel_) textLabel_->setHighlighted(false);
  if (detailTextLabel_) detailTextLabel_->setHighlighted(false);
  if (imageView_) imageView_->setHighlighted(false);
}

void TableViewCell::layoutSubviews() {
  Rect b = bounds();
  double accessoryWidth = (accessory_ != TableViewCellAccessoryType::None || accessoryView_) ? kAccessoryWidth : 0;
  if (accessoryView_) {
    Rect f = accessoryView_->frame();
    accessoryView_->setFrame(Rect(b.size.width - f.size.width - 10, std::round((b.size.height - f.size.height) / 2), f.size.width, f.size.height));
    accessoryWidth = f.size.width + 20;
  }
  contentView_->setFrame(Rect(0, 0, b.size.width - accessoryWidth, b.size.height));
  if (backgroundView_) backgroundView_->setFrame(b);
  bool showSelected = (selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None;
  if (selectedBackgroundView_) {
    if (showSelected) {
      selectedBackgroundView_->setFrame(b);
      insertSubview(selectedBackgroundView_, backgroundView_ ? 1 : 0);
    } else {
      selectedBackgroundView_->removeFromSuperview();
    }
  }
  Rect c = contentView_->bounds();
  double x = 10;
  if (imageView_ && imageView_->image()) {
    Size s = imageView_->image()->size();
    imageView_->setFrame(Rect(x, std::round((c.size.height - s.height) / 2), s.width, s.height));
    x += s.width + 10;
  }
  double w = std::max(0.0, c.size.width - x - 10);
  bool hasDetail = detailTextLabel_ && !detailTextLabel_->text().empty();
  if (style_ == TableViewCellStyle::Subtitle && hasDetail) {
    double th = textLabel_ ? textLabel_->font().lineHeight() : 0, dh = detailTextLabel_->font().lineHeight();
    double top = std::round((c.size.height - th - dh) / 2);
    if (textLabel_) textLabel_->setFrame(Rect(x, top, w, th));
    detailTextLabel_->setFrame(Rect(x, top + th, w, dh));
  } else if (style_ == TableViewCellStyle::Value1 && hasDetail) {
    Size ds = sizeWithFont(detailTextLabel_->text(), detailTextLabel_->font());
    ds.width = std::min(ds.width, w);
    detailTextLabel_->setFrame(Rect(c.size.width - 10 - ds.width, std::round((c.size.height - ds.height) / 2), ds.width, ds.height));
    if (textLabel_) textLabel_->setFrame(Rect(x, 0, std::max(0.0, w - ds.width - 10), c.size.height));
  } else if (style_ == TableViewCellStyle::Value2 && hasDetail) {
    if (textLabel_) textLabel_->setFrame(Rect(x, 0, 67, c.size.height));
    detailTextLabel_->setFrame(Rect(x + 73, 0, std::max(0.0, w - 73), c.size.height));
  } else if (textLabel_) {
    textLabel_->setFrame(Rect(x, 0, w, c.size.height));
  }
}

void TableViewCell::describeForDump(std::vector<std::string>& parts) const {
  if (!reuseIdentifier_.empty()) parts.push_back("reuse=" + dumpQuoted(reuseIdentifier_));
  if (selected_) parts.push_back("selected");
  switch (accessory_) {
    case TableViewCellAccessoryType::DisclosureIndicator: parts.push_back("accessory=disclosure"); break;
    case TableViewCellAccessoryType::DetailDisclosureButton: parts.push_back("accessory=detail"); break;
    case TableViewCellAccessoryType::Checkmark: parts.push_back("accessory=checkmark"); break;
    default: break;
  }
}

}  // namespace os
