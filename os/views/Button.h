#pragma once
// A button: per-state titles, title colours, images and background images (a state without its
// own value falls back to the normal state's), content, title and image insets, and the button
// types of the platform.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "os/graphics/Image.h"
#include "os/views/Control.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"

namespace os {

enum class ButtonType { Custom = 0, RoundedRect = 1, DetailDisclosure = 2, InfoLight = 3, InfoDark = 4, ContactAdd = 5, System = 1 };

class Button : public Control {
 public:
  explicit Button(ButtonType type = ButtonType::Custom);
  static std::shared_ptr<Button> buttonWithType(ButtonType type);
  std::string className() const override { return "Button"; }

  ButtonType buttonType() const { return type_; }

  void setTitle(std::optional<std::string> title, unsigned state);
  std::optional<std::string> titleForState(unsigned state) const;
  void setTitleColor(std::optional<Color> color, unsigned state);
  std::optional<Color> titleColorForState(unsigned state) const;
  void setTitleShadowColor(std::optional<Color> color, unsigned state);
  void setImage(std::shared_ptr<Image> image, unsigned state);
  std::shared_ptr<Image> imageForState(unsigned state) const;
  void setBackgroundImage(std::shared_ptr<Image> image, unsigned state);
  std::shared_ptr<Image> backgroundImageForState(unsigned state) const;

  std::optional<std::string> currentTitle() const { return titleForState(state()); }
  Color currentTitleColor() const;
  std::shared_ptr<Image> currentImage() const { return imageForState(state()); }
  std::shared_ptr<Image> currentBackgroundImage() const { return backgroundImageForState(state()); }

  const std::shared_ptr<Label>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<ImageView>& imageView() const { return imageView_; }

  EdgeInsets contentEdgeInsets() const { return contentInsets_; }
  void setContentEdgeInsets(EdgeInsets i);
  EdgeInsets titleEdgeInsets() const { return titleInsets_; }
  void setTitleEdgeInsets(EdgeInsets i);
  EdgeInsets imageEdgeInsets() const { return imageInsets_; }
  void setImageEdgeInsets(EdgeInsets i);
  bool adjustsImageWhenHighlighted() const { return adjustsImage_; }
  void setAdjustsImageWhenHighlighted(bool a) { adjustsImage_ = a; }
  bool showsTouchWhenHighlighted() const { return showsTouch_; }
  void setShowsTouchWhenHighlighted(bool s) { showsTouch_ = s; }

  // Where the parts go for the current state and these bounds.
  Rect backgroundRectForBounds(const Rect& bounds) const { return bounds; }
  Rect contentRectForBounds(const Rect& bounds) const;
  Rect titleRectForContentRect(const Rect& contentRect) const;
  Rect imageRectForContentRect(const Rect& contentRect) const;

  Size sizeThatFits(Size size) const override;
  void layoutSubviews() override;
  void setEnabled(bool e) override;
  void setSelected(bool s) override;
  void setHighlighted(bool h) override;
  void describeForDump(std::vector<std::string>& parts) const override;
  bool dumpsSubview(const View& subview) const override;

 private:
  template <class T>
  static std::optional<T> lookup(const std::map<unsigned, T>& table, unsigned state);
  void refresh();
  Size titleSize() const;
  Size imageSize() const;

  ButtonType type_;
  std::map<unsigned, std::optional<std::string>> titles_;
  std::map<unsigned, Color> titleColors_, shadowColors_;
  std::map<unsigned, std::shared_ptr<Image>> images_, backgrounds_;
  std::shared_ptr<Label> titleLabel_;
  std::shared_ptr<ImageView> imageView_;
  std::shared_ptr<ImageView> backgroundView_;
  EdgeInsets contentInsets_, titleInsets_, imageInsets_;
  bool adjustsImage_ = true, showsTouch_ = false;
};

}  // namespace os
