#include "ui/widgets/KHProgressHUD.h"

#include <algorithm>
#include <cmath>

#include "os/graphics/GraphicsContext.h"
#include "os/graphics/TextLayout.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// The platform's duration of an animation that sets none.
constexpr double kDefaultAnimationDuration = 0.2;

}  // namespace

// ---------------------------------------------------------------- KHRoundProgressView

KHRoundProgressView::KHRoundProgressView(os::Size size) : os::View(os::Rect({0, 0}, size)) {
  setBackgroundColor(os::Color::clear());
  setOpaque(false);
}

void KHRoundProgressView::setProgress(float progress) {
  progress_ = progress;
  setNeedsDisplay();
}
void KHRoundProgressView::setAnnular(bool annular) {
  annular_ = annular;
  setNeedsDisplay();
}
void KHRoundProgressView::setProgressTintColor(const os::Color& c) {
  progressTintColor_ = c;
  setNeedsDisplay();
}
void KHRoundProgressView::setBackgroundTintColor(const os::Color& c) {
  backgroundTintColor_ = c;
  setNeedsDisplay();
}

void KHRoundProgressView::drawRect(const os::Rect&) {
  os::GraphicsContext* ctx = os::currentGraphicsContext();
  if (!ctx) return;
  const double w = bounds().size.width, h = bounds().size.height;
  const double start = -kPi / 2, end = start + progress_ * 2 * kPi;
  if (annular_) {
    ctx->setLineWidth(5);
    ctx->setLineCap(os::LineCap::Round);
    const double radius = (w - 5) / 2;
    ctx->beginPath();
    ctx->addArc(w / 2, h / 2, radius, start, 3 * kPi / 2, false);
    ctx->setStrokeColor(backgroundTintColor_);
    ctx->strokePath();
    ctx->beginPath();
    ctx->addArc(w / 2, h / 2, radius, start, end, false);
    ctx->setStrokeColor(progressTintColor_);
    ctx->strokePath();
    return;
  }
  os::Rect circle(2, 2, w - 4, h - 4);
  ctx->setStrokeColor(progressTintColor_);
  ctx->setFillColor(backgroundTintColor_);
  ctx->setLineWidth(2);
  ctx->fillEllipseInRect(circle);
  ctx->strokeEllipseInRect(circle);
  ctx->setFillColor(os::Color::rgba(1, 1, 1, 1));
  ctx->beginPath();
  ctx->moveTo(w / 2, h / 2);
  ctx->addArc(w / 2, h / 2, (w - 4) / 2, start, end, false);
  ctx->closePath();
  ctx->fillPath();
}

// ---------------------------------------------------------------- KHBarProgressView

KHBarProgressView::KHBarProgressView(os::Size size) : os::View(os::Rect({0, 0}, size)) {
  setBackgroundColor(os::Color::clear());
  setOpaque(false);
}

void KHBarProgressView::setProgress(float progress) {
  progress_ = progress;
  setNeedsDisplay();
}
void KHBarProgressView::setLineColor(const os::Color& c) {
  lineColor_ = c;
  setNeedsDisplay();
}
void KHBarProgressView::setProgressRemainingColor(const os::Color& c) {
  progressRemainingColor_ = c;
  setNeedsDisplay();
}
void KHBarProgressView::setProgressColor(const os::Color& c) {
  progressColor_ = c;
  setNeedsDisplay();
}

void KHBarProgressView::drawRect(const os::Rect& rect) {
  os::GraphicsContext* ctx = os::currentGraphicsContext();
  if (!ctx) return;
  const double w = rect.size.width, h = rect.size.height;
  ctx->setLineWidth(2);
  ctx->setStrokeColor(lineColor_);
  ctx->setFillColor(progressRemainingColor_);

  // The outline: a capsule inset by 2.
  double radius = h / 2 - 2;
  ctx->beginPath();
  ctx->addRoundedRect(os::Rect(2, 2, w - 4, h - 4), radius);
  ctx->fillPath();
  ctx->beginPath();
  ctx->addRoundedRect(os::Rect(2, 2, w - 4, h - 4), radius);
  ctx->strokePath();

  ctx->setFillColor(progressColor_);
  radius -= 2;
  const double amount = progress_ * w;
  const double mid = h / 2;
  if (amount >= radius + 4 && amount <= w - radius - 4) {
    ctx->beginPath();
    ctx->moveTo(4, mid);
    ctx->addArc(radius + 4, mid, radius, kPi, 3 * kPi / 2, false);
    ctx->addLineTo(amount, 4);
    ctx->addLineTo(amount, h - 4);
    ctx->addLineTo(radius + 4, h - 4);
    ctx->addArc(radius + 4, mid, radius, kPi / 2, kPi, false);
    ctx->closePath();
    ctx->fillPath();
  } else if (amount > radius + 4) {
    // Into the right end.
    const double x = amount - (w - radius - 4);
    double angle = std::acos(x / radius);
    if (std::isnan(angle)) angle = 0;
    ctx->beginPath();
    ctx->moveTo(4, mid);
    ctx->addArc(radius + 4, mid, radius, kPi, 3 * kPi / 2, false);
    ctx->addLineTo(w - radius - 4, 4);
    ctx->addArc(w - radius - 4, mid, radius, -kPi / 2, -angle, false);
    ctx->addLineTo(amount, mid);
    ctx->moveTo(4, mid);
    ctx->addArc(radius + 4, mid, radius, kPi, kPi / 2, true);
    ctx->addLineTo(w - radius - 4, h - 4);
    ctx->addArc(w - radius - 4, mid, radius, kPi / 2, angle, true);
    ctx->addLineTo(amount, mid);
    ctx->fillPath();
  } else if (amount > 0) {
    // Inside the left end.
    ctx->beginPath();
    ctx->moveTo(4, mid);
    ctx->addArc(radius + 4, mid, radius, kPi, 3 * kPi / 2, false);
    ctx->addLineTo(radius + 4, mid);
    ctx->moveTo(4, mid);
    ctx->addArc(radius + 4, mid, radius, kPi, kPi / 2, true);
    ctx->addLineTo(radius + 4, mid);
    ctx->fillPath();
  }
}

// ---------------------------------------------------------------- KHProgressHUD

KHProgressHUD::KHProgressHUD(const os::Rect& frame, KHProgressHUDStyle style)
    : os::View(frame),
      style_(std::move(style)),
      opacity_(static_cast<float>(style_.opacity)),
      labelFont_(os::Font::boldSystemFont(style_.labelFontSize)),
      detailsLabelFont_(os::Font::boldSystemFont(style_.detailsLabelFontSize)),
      margin_(static_cast<float>(style_.margin)),
      cornerRadius_(static_cast<float>(style_.cornerRadius)) {
  setAutoresizingMask(os::kViewAutoresizingFlexibleLeftMargin | os::kViewAutoresizingFlexibleRightMargin |
                      os::kViewAutoresizingFlexibleTopMargin | os::kViewAutoresizingFlexibleBottomMargin);
  setOpaque(false);
  setBackgroundColor(os::Color::clear());
  setAlpha(0);
  setupLabels();
  updateIndicators();
  // Captures this raw pointer: the observation ends in the destructor.
  orientationObserver_ = os::NotificationCenter::defaultCenter().addObserver(
      this, os::kDeviceOrientationDidChangeNotification, nullptr,
      [this](const os::Notification&) { deviceOrientationDidChange(); });
}

KHProgressHUD::~KHProgressHUD() {
  os::NotificationCenter::defaultCenter().removeObserver(orientationObserver_);
  if (graceTimer_) graceTimer_->invalidate();
  if (minShowTimer_) minShowTimer_->invalidate();
  os::RunLoop::main()->cancelPreviousPerforms(this);
}

std::shared_ptr<KHProgressHUD> KHProgressHUD::initWithView(const os::View& view, KHProgressHUDStyle style) {
  return std::make_shared<KHProgressHUD>(view.bounds(), std::move(style));
}

std::shared_ptr<KHProgressHUD> KHProgressHUD::initWithWindow(const os::Window& window, KHProgressHUDStyle style) {
  return initWithView(window, std::move(style));
}

std::shared_ptr<KHProgressHUD> KHProgressHUD::self() {
  return std::static_pointer_cast<KHProgressHUD>(shared_from_this());
}

void KHProgressHUD::onMain(Block work) {
  if (os::RunLoop::isMainThread()) {
    work();
    return;
  }
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::RunLoop::main()->post([weak, work = std::move(work)] {
    if (auto alive = weak.lock()) work();
  });
}

// ---- finding HUDs

std::shared_ptr<KHProgressHUD> KHProgressHUD::showHUDAddedTo(const std::shared_ptr<os::View>& view, bool animated,
                                                             KHProgressHUDStyle style) {
  auto hud = initWithView(*view, std::move(style));
  view->addSubview(hud);
  hud->show(animated);
  return hud;
}

bool KHProgressHUD::hideHUDForView(const os::View& view, bool animated) {
  auto hud = HUDForView(view);
  if (!hud) return false;
  hud->setRemoveFromSuperViewOnHide(true);
  hud->hide(animated);
  return true;
}

std::size_t KHProgressHUD::hideAllHUDsForView(const os::View& view, bool animated) {
  auto huds = allHUDsForView(view);
  for (auto& hud : huds) {
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
  }
  return huds.size();
}

std::shared_ptr<KHProgressHUD> KHProgressHUD::HUDForView(const os::View& view) {
  const auto& subs = view.subviews();
  for (auto it = subs.rbegin(); it != subs.rend(); ++it)
    if (auto hud = std::dynamic_pointer_cast<KHProgressHUD>(*it)) return hud;
  return nullptr;
}

std::vector<std::shared_ptr<KHProgressHUD>> KHProgressHUD::allHUDsForView(const os::View& view) {
  std::vector<std::shared_ptr<KHProgressHUD>> huds;
  for (const auto& sub : view.subviews())
    if (auto hud = std::dynamic_pointer_cast<KHProgressHUD>(sub)) huds.push_back(hud);
  return huds;
}

// ---- showing and hiding

os::AffineTransform KHProgressHUD::scaled(double scale) const { return rotationTransform_.scale(scale, scale); }

void KHProgressHUD::show(bool animated) {
  useAnimation_ = animated;
  reported_ = false;
  // A minimum-show wait left from an earlier hide must not hide this showing.
  if (minShowTimer_) {
    minShowTimer_->invalidate();
    minShowTimer_.reset();
  }
  if (graceTime_ > 0) {
    if (graceTimer_) graceTimer_->invalidate();
    std::weak_ptr<os::Responder> weak = weak_from_this();
    graceTimer_ = os::Timer::scheduled(*os::RunLoop::main(), graceTime_, false, [weak](os::Timer&) {
      if (auto alive = weak.lock()) std::static_pointer_cast<KHProgressHUD>(alive)->handleGraceTimer();
    });
    return;
  }
  setNeedsDisplay();
  showUsingAnimation(useAnimation_);
}

void KHProgressHUD::handleGraceTimer() {
  graceTimer_.reset();
  // Only a task still running earns the HUD; a finished one never shows it.
  if (!taskInProgress_) return;
  setNeedsDisplay();
  showUsingAnimation(useAnimation_);
}

void KHProgressHUD::showUsingAnimation(bool animated) {
  if (animated && animationType_ == KHProgressHUDAnimationZoomIn) setTransform(scaled(style_.zoomSmallScale));
  else if (animated && animationType_ == KHProgressHUDAnimationZoomOut) setTransform(scaled(style_.zoomLargeScale));
  showStarted_ = os::Date::now();
  if (animated) {
    auto keep = self();
    os::View::animate(style_.animationDuration, [keep] {
      keep->setAlpha(1);
      if (keep->animationType_ == KHProgressHUDAnimationZoomIn || keep->animationType_ == KHProgressHUDAnimationZoomOut)
        keep->setTransform(keep->rotationTransform_);
    });
  } else {
    setAlpha(1);
  }
}

void KHProgressHUD::hide(bool animated) {
  useAnimation_ = animated;
  if (minShowTime_ > 0 && showStarted_) {
    double shown = os::Date::now().timeIntervalSince(*showStarted_);
    if (shown < minShowTime_) {
      if (minShowTimer_) minShowTimer_->invalidate();
      std::weak_ptr<os::Responder> weak = weak_from_this();
      minShowTimer_ = os::Timer::scheduled(*os::RunLoop::main(), minShowTime_ - shown, false, [weak](os::Timer&) {
        if (auto alive = weak.lock()) std::static_pointer_cast<KHProgressHUD>(alive)->handleMinShowTimer();
      });
      return;
    }
  }
  hideUsingAnimation(useAnimation_);
}

void KHProgressHUD::handleMinShowTimer() {
  minShowTimer_.reset();
  hideUsingAnimation(useAnimation_);
}

void KHProgressHUD::hide(bool animated, double afterDelay) {
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::RunLoop::main()->performAfterDelay(this, afterDelay, [weak, animated] {
    if (auto alive = weak.lock()) std::static_pointer_cast<KHProgressHUD>(alive)->hide(animated);
  });
}

void KHProgressHUD::hideUsingAnimation(bool animated) {
  if (animated && showStarted_) {
    showStarted_.reset();
    auto keep = self();
    os::View::animate(
        style_.animationDuration,
        [keep] {
          if (keep->animationType_ == KHProgressHUDAnimationZoomIn) keep->setTransform(keep->scaled(keep->style_.zoomLargeScale));
          else if (keep->animationType_ == KHProgressHUDAnimationZoomOut)
            keep->setTransform(keep->scaled(keep->style_.zoomSmallScale));
          keep->setAlpha(keep->style_.hidingAlpha);
        },
        [keep](bool) { keep->done(); });
    return;
  }
  showStarted_.reset();
  setAlpha(0);
  done();
}

void KHProgressHUD::done() {
  auto keep = self();
  os::RunLoop::main()->cancelPreviousPerforms(this);
  // One hiding reports once, even when a second hide overtook a running hide animation.
  if (reported_) return;
  reported_ = true;
  setAlpha(0);
  if (removeFromSuperViewOnHide_) removeFromSuperview();
  if (completionBlock_) {
    Block completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    completion();
  }
  if (auto delegate = delegate_.lock()) delegate->hudWasHidden(*this);
}

// ---- tasks

void KHProgressHUD::showWhileExecuting(Block task, bool animated) {
  taskInProgress_ = true;
  std::weak_ptr<os::Responder> weak = weak_from_this();
  // A background worker of its own, as the task may block for as long as it likes.
  os::DispatchQueue::global(os::DispatchQueue::Priority::Default)->async([weak, task = std::move(task)] {
    if (task) task();
    os::RunLoop::main()->post([weak] {
      if (auto alive = weak.lock()) std::static_pointer_cast<KHProgressHUD>(alive)->cleanUp();
    });
  });
  show(animated);
}

void KHProgressHUD::showAnimated(bool animated, Block task, std::shared_ptr<os::DispatchQueue> queue, Block completion) {
  taskInProgress_ = true;
  completionBlock_ = std::move(completion);
  if (!queue) queue = os::DispatchQueue::global(os::DispatchQueue::Priority::Default);
  std::weak_ptr<os::Responder> weak = weak_from_this();
  queue->async([weak, task = std::move(task)] {
    if (task) task();
    os::DispatchQueue::main()->async([weak] {
      if (auto alive = weak.lock()) std::static_pointer_cast<KHProgressHUD>(alive)->cleanUp();
    });
  });
  show(animated);
}

void KHProgressHUD::cleanUp() {
  taskInProgress_ = false;
  hide(useAnimation_);
}

// ---- properties

void KHProgressHUD::setMode(int mode) {
  mode_ = mode;
  onMain([this] { updateUIForKeypath("mode"); });
}
void KHProgressHUD::setCustomView(std::shared_ptr<os::View> view) {
  customView_ = std::move(view);
  onMain([this] { updateUIForKeypath("customView"); });
}
void KHProgressHUD::setLabelText(std::optional<std::string> text) {
  labelText_ = std::move(text);
  onMain([this] { updateUIForKeypath("labelText"); });
}
void KHProgressHUD::setDetailsLabelText(std::optional<std::string> text) {
  detailsLabelText_ = std::move(text);
  onMain([this] { updateUIForKeypath("detailsLabelText"); });
}
void KHProgressHUD::setLabelFont(const os::Font& font) {
  labelFont_ = font;
  onMain([this] { updateUIForKeypath("labelFont"); });
}
void KHProgressHUD::setLabelColor(const os::Color& color) {
  labelColor_ = color;
  onMain([this] { updateUIForKeypath("labelColor"); });
}
void KHProgressHUD::setDetailsLabelFont(const os::Font& font) {
  detailsLabelFont_ = font;
  onMain([this] { updateUIForKeypath("detailsLabelFont"); });
}
void KHProgressHUD::setDetailsLabelColor(const os::Color& color) {
  detailsLabelColor_ = color;
  onMain([this] { updateUIForKeypath("detailsLabelColor"); });
}
void KHProgressHUD::setProgress(float progress) {
  progress_ = progress;
  onMain([this] { updateUIForKeypath("progress"); });
}

void KHProgressHUD::updateUIForKeypath(const std::string& keyPath) {
  if (keyPath == "mode" || keyPath == "customView") {
    updateIndicators();
  } else if (keyPath == "labelText") {
    label_->setText(labelText_.value_or(""));
  } else if (keyPath == "labelFont") {
    label_->setFont(labelFont_);
  } else if (keyPath == "labelColor") {
    label_->setTextColor(labelColor_);
  } else if (keyPath == "detailsLabelText") {
    detailsLabel_->setText(detailsLabelText_.value_or(""));
  } else if (keyPath == "detailsLabelFont") {
    detailsLabel_->setFont(detailsLabelFont_);
  } else if (keyPath == "detailsLabelColor") {
    detailsLabel_->setTextColor(detailsLabelColor_);
  } else if (keyPath == "progress") {
    if (auto* round = dynamic_cast<KHRoundProgressView*>(indicator_.get())) round->setProgress(progress_);
    else if (auto* bar = dynamic_cast<KHBarProgressView*>(indicator_.get())) bar->setProgress(progress_);
    return;
  }
  setNeedsLayout();
  setNeedsDisplay();
}

void KHProgressHUD::setupLabels() {
  auto make = [this](const os::Font& font, const os::Color& color, const std::optional<std::string>& text) {
    auto label = std::make_shared<os::Label>(bounds());
    label->setAdjustsFontSizeToFitWidth(false);
    label->setTextAlignment(os::TextAlignment::Center);
    label->setOpaque(false);
    label->setBackgroundColor(os::Color::clear());
    label->setTextColor(color);
    label->setFont(font);
    label->setText(text.value_or(""));
    return label;
  };
  label_ = make(labelFont_, labelColor_, labelText_);
  detailsLabel_ = make(detailsLabelFont_, detailsLabelColor_, detailsLabelText_);
  detailsLabel_->setNumberOfLines(0);
  addSubview(label_);
  addSubview(detailsLabel_);
}

void KHProgressHUD::updateIndicators() {
  auto replace = [this](std::shared_ptr<os::View> next) {
    if (indicator_) indicator_->removeFromSuperview();
    indicator_ = std::move(next);
    if (indicator_) addSubview(indicator_);
  };
  switch (mode_) {
    case KHProgressHUDModeIndeterminate:
      if (!dynamic_cast<os::ActivityIndicatorView*>(indicator_.get())) {
        auto spinner = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::WhiteLarge);
        spinner->sizeToFit();
        spinner->startAnimating();
        replace(spinner);
      }
      break;
    case KHProgressHUDModeDeterminate:
    case KHProgressHUDModeAnnularDeterminate: {
      if (!dynamic_cast<KHRoundProgressView*>(indicator_.get()))
        replace(std::make_shared<KHRoundProgressView>(style_.roundProgressSize));
      // A round view left from mode 1 turns annular; going back to 1 leaves it so.
      if (mode_ == KHProgressHUDModeAnnularDeterminate)
        static_cast<KHRoundProgressView*>(indicator_.get())->setAnnular(true);
      break;
    }
    case KHProgressHUDModeDeterminateHorizontalBar:
      replace(std::make_shared<KHBarProgressView>(style_.barProgressSize));
      break;
    case KHProgressHUDModeCustomView:
      if (customView_ != indicator_) replace(customView_);
      break;
    default:  // text only, and anything unknown
      replace(nullptr);
      break;
  }
}

// ---- layout and drawing

void KHProgressHUD::layoutSubviews() {
  os::View::layoutSubviews();
  if (os::View* parent = superviewPtr()) setFrame(parent->bounds());
  const os::Rect b = bounds();
  const double margin = margin_, padding = style_.padding;
  const double maxWidth = b.size.width - 4 * margin;
  os::Size total;

  os::Rect indicatorF = indicator_ ? indicator_->bounds() : os::Rect();
  indicatorF.size.width = std::min(indicatorF.size.width, maxWidth);
  total.width = indicatorF.size.width;
  total.height += indicatorF.size.height;

  os::Size labelSize = label_->text().empty() ? os::Size() : os::sizeWithFont(label_->text(), label_->font());
  labelSize.width = std::min(labelSize.width, maxWidth);
  total.width = std::max(total.width, labelSize.width);
  total.height += labelSize.height;
  if (labelSize.height > 0 && indicatorF.size.height > 0) total.height += padding;

  const double remaining = b.size.height - total.height - padding - 4 * margin;
  os::Size detailsSize;
  if (!detailsLabel_->text().empty())
    detailsSize = os::sizeWithFont(detailsLabel_->text(), detailsLabel_->font(), os::Size{maxWidth, remaining},
                                   detailsLabel_->lineBreakMode());
  total.width = std::max(total.width, detailsSize.width);
  total.height += detailsSize.height;
  if (detailsSize.height > 0 && (indicatorF.size.height > 0 || labelSize.height > 0)) total.height += padding;

  total.width += 2 * margin;
  total.height += 2 * margin;

  double y = std::round((b.size.height - total.height) / 2) + margin + yOffset_;
  const double x = xOffset_;
  indicatorF.origin = {std::round((b.size.width - indicatorF.size.width) / 2) + x, y};
  if (indicator_) indicator_->setFrame(indicatorF);
  y += indicatorF.size.height;
  if (labelSize.height > 0 && indicatorF.size.height > 0) y += padding;
  label_->setFrame(os::Rect(std::round((b.size.width - labelSize.width) / 2) + x, y, labelSize.width, labelSize.height));
  y += labelSize.height;
  if (detailsSize.height > 0 && (indicatorF.size.height > 0 || labelSize.height > 0)) y += padding;
  detailsLabel_->setFrame(
      os::Rect(std::round((b.size.width - detailsSize.width) / 2) + x, y, detailsSize.width, detailsSize.height));

  if (square_) {
    const double side = std::max(total.width, total.height);
    if (side <= b.size.width - 2 * margin) total.width = side;
    if (side <= b.size.height - 2 * margin) total.height = side;
  }
  total.width = std::max(total.width, minSize_.width);
  total.height = std::max(total.height, minSize_.height);
  size_ = total;
}

void KHProgressHUD::drawRect(const os::Rect&) {
  os::GraphicsContext* ctx = os::currentGraphicsContext();
  if (!ctx) return;
  const os::Rect b = bounds();
  if (dimBackground_) {
    os::Gradient gradient{{{0, os::Color::rgba(0, 0, 0, 0)}, {1, os::Color::rgba(0, 0, 0, style_.dimAlpha)}}};
    os::Point center{b.size.width / 2, b.size.height / 2};
    ctx->drawRadialGradient(gradient, center, 0, center, std::min(b.size.width, b.size.height));
  }
  if (style_.panelInContextFillColor)
    ctx->setFillColor(os::Color::black());
  else
    ctx->setFillColor(color_ ? *color_ : os::Color::withWhite(0, opacity_));
  const os::Rect box(std::round((b.size.width - size_.width) / 2) + xOffset_,
                     std::round((b.size.height - size_.height) / 2) + yOffset_, size_.width, size_.height);
  const double r = cornerRadius_;
  const double minX = box.origin.x, minY = box.origin.y;
  const double maxX = minX + box.size.width, maxY = minY + box.size.height;
  ctx->beginPath();
  ctx->moveTo(minX + r, minY);
  ctx->addArc(maxX - r, minY + r, r, 3 * kPi / 2, 0, false);
  ctx->addArc(maxX - r, maxY - r, r, 0, kPi / 2, false);
  ctx->addArc(minX + r, maxY - r, r, kPi / 2, kPi, false);
  ctx->addArc(minX + r, minY + r, r, kPi, 3 * kPi / 2, false);
  ctx->closePath();
  ctx->fillPath();
}

// ---- orientation

void KHProgressHUD::didMoveToSuperview() {
  if (dynamic_cast<os::Window*>(superviewPtr())) setTransformForCurrentOrientation(false);
}

void KHProgressHUD::deviceOrientationDidChange() {
  os::View* parent = superviewPtr();
  if (!parent) return;
  if (dynamic_cast<os::Window*>(parent)) {
    setTransformForCurrentOrientation(true);
  } else {
    setFrame(parent->bounds());
    setNeedsDisplay();
  }
}

void KHProgressHUD::setTransformForCurrentOrientation(bool animated) {
  if (os::View* parent = superviewPtr()) {
    setBounds(parent->bounds());
    setNeedsDisplay();
  }
  auto application = os::Application::shared();
  auto orientation = application ? application->statusBarOrientation() : os::InterfaceOrientation::Portrait;
  double radians = 0;
  const os::Rect b = bounds();
  if (orientation == os::InterfaceOrientation::LandscapeLeft || orientation == os::InterfaceOrientation::LandscapeRight) {
    radians = orientation == os::InterfaceOrientation::LandscapeLeft ? -kPi / 2 : kPi / 2;
    setBounds(os::Rect(0, 0, b.size.height, b.size.width));
  } else if (orientation == os::InterfaceOrientation::PortraitUpsideDown) {
    radians = kPi;
  }
  rotationTransform_ = os::AffineTransform::makeRotation(radians);
  if (animated) {
    auto keep = self();
    os::View::animate(kDefaultAnimationDuration, [keep] { keep->setTransform(keep->rotationTransform_); });
  } else {
    setTransform(rotationTransform_);
  }
}
