#pragma once
// Small controls: the on/off switch, the page dots and the activity indicator.
#include "os/views/Control.h"

namespace os {

class Switch : public Control {
 public:
  Switch();
  explicit Switch(const Rect& frame);
  std::string className() const override { return "Switch"; }
  bool isOn() const { return on_; }
  // From code: no value-changed event.
  void setOn(bool on, bool animated = false);
  const std::optional<Color>& onTintColor() const { return onTint_; }
  void setOnTintColor(std::optional<Color> c) { onTint_ = c; }
  void setFrame(const Rect& frame) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 protected:
  void didTapInside(const Touch& touch) override;

 private:
  bool on_ = false;
  std::optional<Color> onTint_;
};

class PageControl : public Control {
 public:
  PageControl();
  std::string className() const override { return "PageControl"; }
  long numberOfPages() const { return pages_; }
  void setNumberOfPages(long n);
  long currentPage() const { return current_; }
  // Clamped to the pages.
  void setCurrentPage(long page);
  bool hidesForSinglePage() const { return hidesSingle_; }
  void setHidesForSinglePage(bool h);
  bool defersCurrentPageDisplay() const { return defers_; }
  void setDefersCurrentPageDisplay(bool d) { defers_ = d; }
  void updateCurrentPageDisplay() { shownPage_ = current_; }
  long displayedPage() const { return defers_ ? shownPage_ : current_; }
  Size sizeForNumberOfPages(long n) const;
  const std::optional<Color>& pageIndicatorTintColor() const { return tint_; }
  void setPageIndicatorTintColor(std::optional<Color> c) { tint_ = c; }
  const std::optional<Color>& currentPageIndicatorTintColor() const { return currentTint_; }
  void setCurrentPageIndicatorTintColor(std::optional<Color> c) { currentTint_ = c; }
  void describeForDump(std::vector<std::string>& parts) const override;

 protected:
  // A tap on the left half goes back a page, on the right half forward.
  void didTapInside(const Touch& touch) override;

 private:
  void updateHidden();
  long pages_ = 0, current_ = 0, shownPage_ = 0;
  bool hidesSingle_ = false, defers_ = false;
  std::optional<Color> tint_, currentTint_;
};

enum class ActivityIndicatorViewStyle { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
 public:
  explicit ActivityIndicatorView(ActivityIndicatorViewStyle style = ActivityIndicatorViewStyle::White);
  std::string className() const override { return "ActivityIndicatorView"; }
  ActivityIndicatorViewStyle style() const { return style_; }
  void setStyle(ActivityIndicatorViewStyle s);
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  // While stopped the indicator is hidden (default on).
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool h);
  const std::optional<Color>& color() const { return color_; }
  void setColor(std::optional<Color> c) { color_ = c; }
  Size sizeThatFits(Size) const override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  ActivityIndicatorViewStyle style_;
  bool animating_ = false, hidesWhenStopped_ = true;
  std::optional<Color> color_;
};

}  // namespace os
