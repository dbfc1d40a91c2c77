#pragma once
// A text view that shows a grey placeholder while it holds no text (the feedback screen).
#include <optional>
#include <string>

#include "os/graphics/Color.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/TextView.h"

class UICommonTextView : public os::TextView {
 public:
  explicit UICommonTextView(const os::Rect& frame = {});
  ~UICommonTextView() override;
  std::string className() const override { return "UICommonTextView"; }

  void setText(std::string text) override;
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> placeholder);
  const std::optional<os::Color>& placeholderColor() const { return placeholderColor_; }
  // Only stored: the next redraw uses it.
  void setPlaceholderColor(std::optional<os::Color> color) { placeholderColor_ = color; }
  bool shouldDrawPlaceholder() const { return shouldDrawPlaceholder_; }

  void updateShouldDrawPlaceholder();
  void textChanged(const os::Notification& notification);
  void drawRect(const os::Rect& rect) override;

 private:
  void initialize();

  std::optional<std::string> placeholder_;
  std::optional<os::Color> placeholderColor_;
  bool shouldDrawPlaceholder_ = false;
  os::NotificationCenter::ObserverToken observer_ = 0;
};
