#include "news/settings/UICommonTextView.h"

#include "os/graphics/Font.h"
#include "os/graphics/GraphicsContext.h"

UICommonTextView::UICommonTextView(const os::Rect& frame) : os::TextView(frame) { initialize(); }

UICommonTextView::~UICommonTextView() {
  if (observer_) os::NotificationCenter::defaultCenter().removeObserver(observer_);
}

void UICommonTextView::initialize() {
  // Typing changes the text without setText, so the change notification keeps the placeholder
  // in step. The view unregisters before it goes, so the raw pointer never outlives it.
  observer_ = os::NotificationCenter::defaultCenter().addObserver(
      os::kTextViewTextDidChangeNotification, static_cast<const os::TextView*>(this), [this](const os::Notification& n) { textChanged(n); });
  shouldDrawPlaceholder_ = false;
  setFont(os::Font::systemFont(15));
  placeholderColor_ = os::Color::withWhite(0.702);
  layer().setBorderColor(os::Color::rgba(0.8, 0.8, 0.8));
  layer().setBorderWidth(1);
  layer().setCornerRadius(3);
}

void UICommonTextView::setText(std::string text) {
  os::TextView::setText(std::move(text));
  updateShouldDrawPlaceholder();
}

void UICommonTextView::setPlaceholder(std::optional<std::string> placeholder) {
  if (placeholder == placeholder_) return;
  placeholder_ = std::move(placeholder);
  updateShouldDrawPlaceholder();
}

void UICommonTextView::textChanged(const os::Notification&) { updateShouldDrawPlaceholder(); }

void UICommonTextView::updateShouldDrawPlaceholder() {
  const bool before = shouldDrawPlaceholder_;
  shouldDrawPlaceholder_ = placeholder_ && placeholderColor_ && text().empty();
  if (before != shouldDrawPlaceholder_) setNeedsDisplay();
}

void UICommonTextView::drawRect(const os::Rect& rect) {
  os::TextView::drawRect(rect);
  if (!shouldDrawPlaceholder_) return;
  os::GraphicsContext* context = os::currentGraphicsContext();
  if (!context) return;
  context->saveState();
  context->setFillColor(*placeholderColor_);
  context->drawText(*placeholder_, os::Rect(8, 8, bounds().size.width - 16, 20), font());
  context->restoreState();
}
