#include "os/views/ImageView.h"

#include <algorithm>
#include <cmath>

#include "os/core/String.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/Clock.h"

namespace os {

ImageView::ImageView() { setUserInteractionEnabled(false); }

ImageView::ImageView(const Rect& frame) : ImageView() { setFrame(frame); }

ImageView::ImageView(std::shared_ptr<Image> image, std::shared_ptr<Image> highlighted) : ImageView() {
  image_ = std::move(image);
  highlightedImage_ = std::move(highlighted);
  if (image_) setFrame(Rect(Point{}, image_->size()));
}

void ImageView::setImage(std::shared_ptr<Image> image) {
  image_ = std::move(image);
  pictureLoad_ = PictureLoad::None;
  pictureSource_.clear();
  setNeedsDisplay();
}

void ImageView::setHighlightedImage(std::shared_ptr<Image> image) {
  highlightedImage_ = std::move(image);
  setNeedsDisplay();
}

void ImageView::setHighlighted(bool h) {
  highlighted_ = h;
  setNeedsDisplay();
}

void ImageView::setAnimationImages(std::vector<std::shared_ptr<Image>> images) {
  animationImages_ = std::move(images);
  if (animationImages_.empty()) animating_ = false;
}

double ImageView::animationDuration() const {
  if (animationDuration_ > 0) return animationDuration_;
  return static_cast<double>(animationImages_.size()) / 30.0;
}

void ImageView::startAnimating() {
  if (animationImages_.empty()) return;
  animating_ = true;
  animationStart_ = Clock::monotonic();
}

void ImageView::stopAnimating() { animating_ = false; }

std::shared_ptr<Image> ImageView::displayedImage() const {
  if (animating_ && !animationImages_.empty()) {
    double d = animationDuration();
    double elapsed = Clock::monotonic() - animationStart_;
    std::size_t n = animationImages_.size();
    if (d <= 0) return animationImages_.front();
    double cycles = elapsed / d;
    if (repeatCount_ > 0 && cycles >= repeatCount_) return highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    auto index = static_cast<std::size_t>(std::floor((cycles - std::floor(cycles)) * static_cast<double>(n)));
    return animationImages_[std::min(index, n - 1)];
  }
  if (highlighted_ && highlightedImage_) return highlightedImage_;
  return image_;
}

Size ImageView::sizeThatFits(Size) const {
  auto img = displayedImage();
  return img ? img->size() : bounds().size;
}

Rect rectForContentMode(ViewContentMode mode, Size s, const Rect& b) {
  if (s.width <= 0 || s.height <= 0) return b;
  double w = b.size.width, h = b.size.height;
  switch (mode) {
    case ViewContentMode::ScaleToFill:
    case ViewContentMode::Redraw: return b;
    case ViewContentMode::ScaleAspectFit:
    case ViewContentMode::ScaleAspectFill: {
      double k = mode == ViewContentMode::ScaleAspectFit ? std::min(w / s.width, h / s.height) : std::max(w / s.width, h / s.height);
      return Rect(b.origin.x + (w - s.width * k) / 2, b.origin.y + (h - s.height * k) / 2, s.width * k, s.height * k);
    }
    default: break;
  }
  double x = b.origin.x + (w - s.width) / 2, y = b.origin.y + (h - s.height) / 2;
  switch (mode) {
    case ViewContentMode::Top: y = b.origin.y; break;
    case ViewContentMode::Bottom: y = b.maxY() - s.height; break;
    case ViewContentMode::Left: x = b.origin.x; break;
    case ViewContentMode::Right: x = b.maxX() - s.width; break;
    case ViewContentMode::TopLeft: x = b.origin.x; y = b.origin.y; break;
    case ViewContentMode::TopRight: x = b.maxX() - s.width; y = b.origin.y; break;
    case ViewContentMode::BottomLeft: x = b.origin.x; y = b.maxY() - s.height; break;
    case ViewContentMode::BottomRight: x = b.maxX() - s.width; y = b.maxY() - s.height; break;
    default: break;
  }
  return Rect(x, y, s.width, s.height);
}

void ImageView::drawRect(const Rect&) {
  GraphicsContext* context = currentGraphicsContext();
  auto img = displayedImage();
  if (!context || !img) return;
  context->drawImage(img, rectForContentMode(contentMode(), img->size(), bounds()));
}

std::string imageDumpName(const Image& image) {
  if (!image.name().empty()) return image.name();
  Size s = image.size();
  return format("%gx%g", s.width, s.height);
}

void ImageView::setPictureLoad(PictureLoad state, std::string source) {
  pictureLoad_ = state;
  pictureSource_ = std::move(source);
}

void ImageView::describeForDump(std::vector<std::string>& parts) const {
  auto img = displayedImage();
  if (pictureLoad_ == PictureLoad::Loading) parts.push_back("image=loading");
  else if (pictureLoad_ == PictureLoad::Failed) parts.push_back("image=failed");
  else if (img && img->name().empty() && !pictureSource_.empty()) parts.push_back("image=" + pictureSource_);
  else if (img) parts.push_back("image=" + imageDumpName(*img));
  if (animating_) parts.push_back("animating");
}

}  // namespace os
