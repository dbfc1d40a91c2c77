#pragma once
// An image view: shows its image (or its highlighted image) by its content mode, and can cycle
// through animation images over the animation duration on os::Clock.
#include <memory>
#include <string>
#include <vector>

#include "os/graphics/Image.h"
#include "os/views/View.h"

namespace os {

class ImageView : public View {
 public:
  ImageView();
  explicit ImageView(const Rect& frame);
  explicit ImageView(std::shared_ptr<Image> image, std::shared_ptr<Image> highlightedImage = nullptr);
  std::string className() const override { return "ImageView"; }

  const std::shared_ptr<Image>& image() const { return image_; }
  // Also forgets the picture load below: an image set directly is what the view shows.
  void setImage(std::shared_ptr<Image> image);

  // How a picture loaded from elsewhere stands, for screen dumps: while it loads the view shows
  // its placeholder (or nothing), and a dump says "loading"; after a failed load, "failed"; a
  // loaded picture without a name of its own goes by its source.
  enum class PictureLoad { None, Loading, Loaded, Failed };
  void setPictureLoad(PictureLoad state, std::string source = {});
  PictureLoad pictureLoad() const { return pictureLoad_; }
  const std::shared_ptr<Image>& highlightedImage() const { return highlightedImage_; }
  void setHighlightedImage(std::shared_ptr<Image> image);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h);

  const std::vector<std::shared_ptr<Image>>& animationImages() const { return animationImages_; }
  void setAnimationImages(std::vector<std::shared_ptr<Image>> images);
  // 0 means one thirtieth of a second per frame.
  double animationDuration() const;
  void setAnimationDuration(double d) { animationDuration_ = d; }
  int animationRepeatCount() const { return repeatCount_; }
  void setAnimationRepeatCount(int n) { repeatCount_ = n; }
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  // What the view shows now: the animation frame due on the clock, else the (highlighted) image.
  std::shared_ptr<Image> displayedImage() const;

  Size sizeThatFits(Size size) const override;
  void drawRect(const Rect& rect) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  std::shared_ptr<Image> image_, highlightedImage_;
  bool highlighted_ = false;
  std::vector<std::shared_ptr<Image>> animationImages_;
  double animationDuration_ = 0;
  int repeatCount_ = 0;
  bool animating_ = false;
  double animationStart_ = 0;
  PictureLoad pictureLoad_ = PictureLoad::None;
  std::string pictureSource_;
};

// The rectangle an image of `imageSize` takes in `bounds` under a content mode.
Rect rectForContentMode(ViewContentMode mode, Size imageSize, const Rect& bounds);
// The name of an image for screen dumps; one without a name goes by its size ("90x63").
std::string imageDumpName(const Image& image);

}  // namespace os
