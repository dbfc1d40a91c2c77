#pragma once
// A small rounded notice (an icon and one line of text on a dark translucent plate) that fades
// in, stays for a while and fades out. The caller adds it to a view and removes it.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/graphics/Color.h"
#include "os/graphics/Geometry.h"
#include "os/views/View.h"

namespace os {
class Image;
class ImageView;
class Label;
}  // namespace os

class UINotifyView : public os::View {
 public:
  using Completion = std::function<void()>;

  static std::shared_ptr<UINotifyView> notifyViewWithImage(std::shared_ptr<os::Image> image, std::string text);
  static os::Rect defaultFrame() { return os::Rect{0, 0, 280, 45}; }
  UINotifyView(std::shared_ptr<os::Image> image, std::string text);
  std::string className() const override { return "UINotifyView"; }

  // Fades in over `speed` seconds, stays `duration` seconds, fades out over `speed`.
  void presentWithDuration(double duration, double speed, const std::shared_ptr<os::View>& inView,
                           Completion completion = {});
  void fadeAfter(double delay, double speed, Completion completion = {});

  void setImage(std::shared_ptr<os::Image> image);
  void setText(std::string text);
  void setRoundness(double roundness);
  void setBorderColor(os::Color color);
  void setCurrentOpacity(double opacity);
  // Icon and text side by side, centred on the plate.
  void ajustTextAndImagePosition();

  const std::string& text() const { return text_; }
  double roundness() const { return roundness_; }
  double currentOpacity() const { return currentOpacity_; }
  double destinationOpacity() const { return destinationOpacity_; }
  bool isAnimating() const { return isAnimating_; }
  // A notice taken away early is no longer animating.
  void setIsAnimating(bool animating) { isAnimating_ = animating; }
  bool bordered() const { return bordered_; }
  std::shared_ptr<os::View> backgroundView();
  std::shared_ptr<os::ImageView> imageView();
  std::shared_ptr<os::Label> textLabel();

 private:
  bool bordered_ = false;
  bool isAnimating_ = false;
  double destinationOpacity_ = 0.75;
  double currentOpacity_ = 0;
  std::shared_ptr<os::Image> image_;
  double roundness_ = 10.0;
  os::Color borderColor_ = os::Color::withWhite(1, 0.5);
  std::string text_;
  std::shared_ptr<os::View> backgroundView_;
  std::shared_ptr<os::ImageView> imageView_;
  std::shared_ptr<os::Label> textLabel_;
};
