#pragma once
// The layer side of a view: corner radius, border, shadow and the 3D transform, plus plain
// sublayers that show an image (contents). Nothing animates implicitly: a change is its end
// state at once, so transactions only record their settings.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/graphics/Color.h"
#include "os/graphics/Geometry.h"

namespace os {

class View;
class Image;
class GraphicsContext;

inline constexpr const char* kLayerGravityResize = "resize";
inline constexpr const char* kLayerGravityResizeAspect = "resizeAspect";
inline constexpr const char* kLayerGravityResizeAspectFill = "resizeAspectFill";
inline constexpr const char* kLayerGravityCenter = "center";

class Layer : public std::enable_shared_from_this<Layer> {
 public:
  Layer() = default;
  virtual ~Layer() = default;

  // The view this layer backs; null for a plain sublayer.
  View* view() const { return view_; }

  // Geometry of a plain layer (a view's layer answers its view's).
  Rect frame() const;
  void setFrame(const Rect& frame);
  Rect bounds() const;

  const Transform3D& transform() const { return transform_; }
  void setTransform(const Transform3D& t);
  double opacity() const;
  void setOpacity(double o);
  bool isHidden() const;
  void setHidden(bool hidden);

  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double r) { cornerRadius_ = r; }
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double w) { borderWidth_ = w; }
  const std::optional<Color>& borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<Color> c) { borderColor_ = c; }
  bool masksToBounds() const;
  void setMasksToBounds(bool m);
  const std::optional<Color>& shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<Color> c) { shadowColor_ = c; }
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size s) { shadowOffset_ = s; }
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double o) { shadowOpacity_ = o; }
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double r) { shadowRadius_ = r; }

  // What a plain layer shows.
  const std::shared_ptr<const Image>& contents() const { return contents_; }
  void setContents(std::shared_ptr<const Image> image) { contents_ = std::move(image); }
  const std::string& contentsGravity() const { return gravity_; }
  void setContentsGravity(std::string g) { gravity_ = std::move(g); }
  double contentsScale() const { return contentsScale_; }
  void setContentsScale(double s) { contentsScale_ = s; }

  const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
  void addSublayer(std::shared_ptr<Layer> layer);
  void removeFromSuperlayer();
  Layer* superlayer() const { return superlayer_; }

  // Draws the layer (and for a view's layer, its whole view tree) into the context, in the
  // layer's own coordinates.
  void renderInContext(GraphicsContext& context) const;

 private:
  friend class View;
  void renderPlain(GraphicsContext& context) const;

  View* view_ = nullptr;
  Layer* superlayer_ = nullptr;
  Rect frame_;
  Transform3D transform_;
  double opacity_ = 1;
  bool hidden_ = false;
  bool masks_ = false;
  double cornerRadius_ = 0, borderWidth_ = 0;
  std::optional<Color> borderColor_;
  std::optional<Color> shadowColor_;
  Size shadowOffset_{0, -3};
  double shadowOpacity_ = 0, shadowRadius_ = 3;
  std::shared_ptr<const Image> contents_;
  std::string gravity_ = kLayerGravityResize;
  double contentsScale_ = 1;
  std::vector<std::shared_ptr<Layer>> sublayers_;
};

// Layer transactions: changes take effect at once; the settings are kept for tests to read.
class LayerTransaction {
 public:
  static void begin();
  static void commit();
  static void setAnimationDuration(double seconds);
  static double animationDuration();
  static void setDisableActions(bool disable);
  static bool disableActions();
};

}  // namespace os
