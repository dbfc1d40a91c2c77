#pragma once
// An item of a navigation bar or toolbar: a title, an image, a custom view, a system item or a
// fixed or flexible space, with a target-action. Bars make the views that show it.
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "os/graphics/Image.h"

namespace os {

class View;

enum class BarButtonSystemItem {
  Done = 0, Cancel, Edit, Save, Add, FlexibleSpace, FixedSpace, Compose, Reply, Action, Organize, Bookmarks,
  Search, Refresh, Stop, Camera, Trash, Play, Pause, Rewind, FastForward, Undo, Redo
};
enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
 public:
  using Action = std::function<void(BarButtonItem& sender)>;

  BarButtonItem() = default;
  static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withImage(std::shared_ptr<Image> image, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);
  static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action = {});
  // A fixed space of the width (negative widths pull the next item outward).
  static std::shared_ptr<BarButtonItem> fixedSpace(double width);

  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  const std::shared_ptr<Image>& image() const { return image_; }
  void setImage(std::shared_ptr<Image> i) { image_ = std::move(i); }
  const std::shared_ptr<View>& customView() const { return customView_; }
  void setCustomView(std::shared_ptr<View> v) { customView_ = std::move(v); }
  BarButtonItemStyle style() const { return style_; }
  void setStyle(BarButtonItemStyle s) { style_ = s; }
  std::optional<BarButtonSystemItem> systemItem() const { return system_; }
  double width() const { return width_; }
  void setWidth(double w) { width_ = w; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  int tag() const { return tag_; }
  void setTag(int t) { tag_ = t; }
  bool isSpace() const {
    return system_ == BarButtonSystemItem::FixedSpace || system_ == BarButtonSystemItem::FlexibleSpace;
  }

  void setAction(Action action) { action_ = std::move(action); }
  bool hasAction() const { return static_cast<bool>(action_); }
  // What a tap on the item's view does.
  void trigger();

  // The text a system item shows.
  std::string displayTitle() const;

 private:
  std::string title_;
  std::shared_ptr<Image> image_;
  std::shared_ptr<View> customView_;
  BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
  std::optional<BarButtonSystemItem> system_;
  double width_ = 0;
  bool enabled_ = true;
  int tag_ = 0;
  Action action_;
};

}  // namespace os
