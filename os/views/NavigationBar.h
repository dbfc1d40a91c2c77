#pragma once
// The navigation bar and its items: a stack of items, the top one shown with its title (or
// title view) and its left and right bar button items; without left items a back button titled
// after the item below pops.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/graphics/Font.h"
#include "os/views/BarButtonItem.h"
#include "os/views/View.h"

namespace os {

class Button;
class Label;

class NavigationItem : public std::enable_shared_from_this<NavigationItem> {
 public:
  explicit NavigationItem(std::string title = {}) : title_(std::move(title)) {}

  const std::string& title() const { return title_; }
  void setTitle(std::string t);
  const std::shared_ptr<View>& titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> v);
  const std::string& prompt() const { return prompt_; }
  void setPrompt(std::string p) { prompt_ = std::move(p); }

  const std::vector<std::shared_ptr<BarButtonItem>>& leftBarButtonItems() const { return left_; }
  void setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
  std::shared_ptr<BarButtonItem> leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  const std::vector<std::shared_ptr<BarButtonItem>>& rightBarButtonItems() const { return right_; }
  void setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
  std::shared_ptr<BarButtonItem> rightBarButtonItem() const { return right_.empty() ? nullptr : right_.front(); }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  const std::shared_ptr<BarButtonItem>& backBarButtonItem() const { return back_; }
  void setBackBarButtonItem(std::shared_ptr<BarButtonItem> item);
  bool hidesBackButton() const { return hidesBack_; }
  void setHidesBackButton(bool h, bool animated = false);

 private:
  friend class NavigationBar;
  void changed();
  std::string title_, prompt_;
  std::shared_ptr<View> titleView_;
  std::vector<std::shared_ptr<BarButtonItem>> left_, right_;
  std::shared_ptr<BarButtonItem> back_;
  bool hidesBack_ = false;
  std::function<void()> onChange_;
};

enum class BarStyle { Default = 0, Black = 1, BlackTranslucent = 2 };

class NavigationBar : public View {
 public:
  static constexpr double kHeight = 44;

  NavigationBar();
  std::string className() const override { return "NavigationBar"; }

  const std::vector<std::shared_ptr<NavigationItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<NavigationItem>> items, bool animated = false);
  void pushNavigationItem(std::shared_ptr<NavigationItem> item, bool animated = false);
  std::shared_ptr<NavigationItem> popNavigationItem(bool animated = false);
  std::shared_ptr<NavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
  std::shared_ptr<NavigationItem> backItem() const { return items_.size() < 2 ? nullptr : items_[items_.size() - 2]; }

  BarStyle barStyle() const { return style_; }
  void setBarStyle(BarStyle s) { style_ = s; }
  const std::optional<Color>& barTintColor() const { return barTint_; }
  void setBarTintColor(std::optional<Color> c) { barTint_ = c; }
  bool isTranslucent() const { return translucent_; }
  void setTranslucent(bool t) { translucent_ = t; }
  const std::shared_ptr<Image>& backgroundImage() const { return background_; }
  void setBackgroundImage(std::shared_ptr<Image> image) { background_ = std::move(image); }
  const Font& titleFont() const { return titleFont_; }
  void setTitleFont(const Font& f) { titleFont_ = f; setNeedsLayout(); }
  const Color& titleColor() const { return titleColor_; }
  void setTitleColor(const Color& c) { titleColor_ = c; setNeedsLayout(); }

  // What the back button does (the navigation controller pops); without it the bar pops its item.
  void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }
  // The back button shown now, or null.
  const std::shared_ptr<Button>& backButton() const { return backButton_; }

  Size sizeThatFits(Size size) const override { return Size{size.width, kHeight}; }
  void layoutSubviews() override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  std::shared_ptr<View> viewForItem(const std::shared_ptr<BarButtonItem>& item);
  void watch(const std::shared_ptr<NavigationItem>& item);

  std::vector<std::shared_ptr<NavigationItem>> items_;
  std::vector<std::shared_ptr<View>> shown_;
  std::shared_ptr<Button> backButton_;
  std::shared_ptr<Label> titleLabel_;
  BarStyle style_ = BarStyle::Default;
  std::optional<Color> barTint_;
  bool translucent_ = false;
  std::shared_ptr<Image> background_;
  Font titleFont_ = Font::boldSystemFont(20);
  Color titleColor_ = Color::white();
  std::function<void()> backAction_;
};

// A bar of items along the bottom; flexible spaces share the room left over.
class Toolbar : public View {
 public:
  static constexpr double kHeight = 44;
  Toolbar();
  std::string className() const override { return "Toolbar"; }
  const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
  BarStyle barStyle() const { return style_; }
  void setBarStyle(BarStyle s) { style_ = s; }
  const std::optional<Color>& barTintColor() const { return barTint_; }
  void setBarTintColor(std::optional<Color> c) { barTint_ = c; }
  void layoutSubviews() override;

 private:
  std::vector<std::shared_ptr<BarButtonItem>> items_;
  std::vector<std::shared_ptr<View>> shown_;
  BarStyle style_ = BarStyle::Default;
  std::optional<Color> barTint_;
};

// The view that shows a bar item (its custom view, or a button made for it).
std::shared_ptr<View> makeBarItemView(const std::shared_ptr<BarButtonItem>& item);

}  // namespace os
