#include "qqconnect/web/UINotifyView.h"

#include "os/graphics/Font.h"
#include "os/graphics/Image.h"
#include "os/graphics/TextLayout.h"
#include "os/runtime/RunLoop.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"

namespace {
constexpr double kTextSize = 14;
constexpr double kGap = 6;
}  // namespace

std::shared_ptr<UINotifyView> UINotifyView::notifyViewWithImage(std::shared_ptr<os::Image> image, std::string text) {
  return std::make_shared<UINotifyView>(std::move(image), std::move(text));
}

UINotifyView::UINotifyView(std::shared_ptr<os::Image> image, std::string text)
    : os::View(defaultFrame()), image_(std::move(image)), text_(std::move(text)) {
  backgroundView();
  imageView()->setImage(image_);
  textLabel()->setText(text_);
  setCurrentOpacity(0);
  ajustTextAndImagePosition();
}

std::shared_ptr<os::View> UINotifyView::backgroundView() {
  if (!backgroundView_) {
    backgroundView_ = std::make_shared<os::View>(bounds());
    backgroundView_->layer().setBorderWidth(1);
    backgroundView_->layer().setBorderColor(borderColor_);
    backgroundView_->layer().setCornerRadius(roundness_);
    addSubview(backgroundView_);
  }
  return backgroundView_;
}

std::shared_ptr<os::ImageView> UINotifyView::imageView() {
  if (!imageView_) {
    imageView_ = std::make_shared<os::ImageView>();
    backgroundView()->addSubview(imageView_);
  }
  return imageView_;
}

std::shared_ptr<os::Label> UINotifyView::textLabel() {
  if (!textLabel_) {
    textLabel_ = std::make_shared<os::Label>();
    textLabel_->setFont(os::Font::systemFont(kTextSize));
    textLabel_->setTextColor(os::Color::withWhite(1));
    backgroundView()->addSubview(textLabel_);
  }
  return textLabel_;
}

void UINotifyView::setImage(std::shared_ptr<os::Image> image) {
  image_ = std::move(image);
  imageView()->setImage(image_);
  ajustTextAndImagePosition();
}

void UINotifyView::setText(std::string text) {
  text_ = std::move(text);
  textLabel()->setText(text_);
  ajustTextAndImagePosition();
}

void UINotifyView::setRoundness(double roundness) {
  roundness_ = roundness;
  backgroundView()->layer().setCornerRadius(roundness);
}

void UINotifyView::setBorderColor(os::Color color) {
  borderColor_ = color;
  backgroundView()->layer().setBorderColor(color);
}

void UINotifyView::setCurrentOpacity(double opacity) {
  currentOpacity_ = opacity;
  backgroundView()->setBackgroundColor(os::Color::rgba(0, 0, 0, opacity));
  const double content = opacity > 0 ? 1 : 0;
  imageView()->setAlpha(content);
  textLabel()->setAlpha(content);
}

void UINotifyView::ajustTextAndImagePosition() {
  const os::Size textSize = os::sizeWithFont(text_, os::Font::systemFont(kTextSize));
  const os::Size imageSize = image_ ? image_->size() : os::Size{0, 0};
  const double gap = image_ && !text_.empty() ? kGap : 0;
  const os::Rect plate = backgroundView()->bounds();
  double x = (plate.size.width - (imageSize.width + gap + textSize.width)) / 2;
  imageView()->setFrame(os::Rect{x, (plate.size.height - imageSize.height) / 2, imageSize.width, imageSize.height});
  x += imageSize.width + gap;
  textLabel()->setFrame(os::Rect{x, (plate.size.height - textSize.height) / 2, textSize.width, textSize.height});
}

void UINotifyView::presentWithDuration(double duration, double speed, const std::shared_ptr<os::View>&,
                                       Completion completion) {
  isAnimating_ = true;
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::View::animate(
      speed, [this] { setCurrentOpacity(destinationOpacity_); },
      [weak, this, duration, speed, completion](bool) {
        if (weak.lock()) fadeAfter(duration, speed, completion);
      });
}

void UINotifyView::fadeAfter(double delay, double speed, Completion completion) {
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::RunLoop::current()->performAfterDelay(this, delay, [weak, this, speed, completion] {
    if (!weak.lock()) return;
    os::View::animate(
        speed, [this] { setCurrentOpacity(0); },
        [weak, this, completion](bool) {
          if (!weak.lock()) return;
          isAnimating_ = false;
          if (completion) completion();
        });
  });
}
