#include "qqconnect/web/SetHeadImageViewController.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "qqconnect/analytics/TCDataReport.h"
#include "qqconnect/requests/TCOSDKReachability.h"
#include "qqconnect/web/UINotifyView.h"
#include "os/core/String.h"
#include "os/graphics/BitmapContext.h"
#include "os/graphics/Image.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Application.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Button.h"
#include "os/views/Control.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NavigationBar.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/ScrollView.h"
#include "os/views/Switch.h"

namespace {

constexpr double kToolbarHeight = 55;
constexpr std::size_t kNickLimit = 24;
constexpr double kActivityHeight = 240;

std::shared_ptr<os::Image> bundleImage(const char* name) {
  return os::imageNamed(std::string("VelmoraOpenApi_IOS_Bundle.bundle/") + name + ".png");
}

}  // namespace

void DestRectView::drawRect(const os::Rect&) {
  os::GraphicsContext* context = os::currentGraphicsContext();
  if (!context) return;
  context->setStrokeColor(os::Color::white());
  context->setLineWidth(1);
  context->strokeRect(os::Rect{0, 0, bounds().size.width, bounds().size.height});
}

SetHeadImageViewController::SetHeadImageViewController(std::string fileName, std::weak_ptr<setHeadImageDelegate> delegate,
                                                       std::string reachabilityHost, std::string appId)
    : delegate_(std::move(delegate)), fileName_(fileName.empty() ? kHeadImageDefaultFileName : std::move(fileName)),
      appId_(std::move(appId)), reachabilityHost_(std::move(reachabilityHost)) {}

SetHeadImageViewController::~SetHeadImageViewController() { os::NotificationCenter::defaultCenter().removeObserver(this); }

double SetHeadImageViewController::upperDimmedHeight() const {
  return (os::Screen::main().bounds().size.height - kToolbarHeight - kFrameSide) / 2;
}

void SetHeadImageViewController::report(const char* action, std::optional<double> seconds) const {
  if (seconds)
    TCDataReport::shared().reportDataWithTime(0, action, appId_, *seconds, std::nullopt);
  else
    TCDataReport::shared().reportData(0, action, appId_, std::nullopt);
}

void SetHeadImageViewController::viewDidLoad() {
  const os::Rect screen = os::Screen::main().bounds();
  view()->setBackgroundColor(os::Color::black());
  scrollView_ = std::make_shared<os::ScrollView>(screen);
  scrollView_->setShowsHorizontalScrollIndicator(false);
  scrollView_->setShowsVerticalScrollIndicator(false);
  scrollView_->setDelegate(std::dynamic_pointer_cast<os::ScrollViewDelegate>(shared_from_this()));
  headImage_ = std::make_shared<os::ImageView>();
  scrollView_->addSubview(headImage_);
  view()->addSubview(scrollView_);
  const double top = upperDimmedHeight();
  destRectView_ = std::make_shared<DestRectView>(os::Rect{(screen.size.width - kFrameSide) / 2, top, kFrameSide, kFrameSide});
  destRectView_->setUserInteractionEnabled(false);
  view()->addSubview(destRectView_);
  for (const os::Rect& r : {os::Rect{0, 0, screen.size.width, top},
                            os::Rect{0, top + kFrameSide, screen.size.width, screen.size.height - top - kFrameSide}}) {
    auto dim = std::make_shared<os::View>(r);
    dim->setBackgroundColor(os::Color::rgba(0, 0, 0, 0.6));
    dim->setUserInteractionEnabled(false);
    view()->addSubview(dim);
  }
  qqImage_ = std::make_shared<os::ImageView>(bundleImage("qqicon"));
  qqImage_->setFrame(os::Rect{0, top - 32, 24, 24});
  view()->addSubview(qqImage_);
  nickLabel_ = std::make_shared<os::Label>();
  nickLabel_->setFrame(os::Rect{0, top - 30, screen.size.width, 20});
  nickLabel_->setTextColor(os::Color::withWhite(1));
  view()->addSubview(nickLabel_);
  layoutNick();
  lable_ = std::make_shared<os::Label>();
  lable_->setText(kHeadImageHint);
  lable_->setFont(os::Font::systemFont(14));
  lable_->setTextColor(os::Color::withWhite(1));
  lable_->setTextAlignment(os::TextAlignment::Center);
  lable_->setFrame(os::Rect{0, top + kFrameSide + 10, screen.size.width, 20});
  lable_->setUserInteractionEnabled(false);
  view()->addSubview(lable_);

  std::weak_ptr<os::Responder> weak = weak_from_this();
  auto button = [&](const char* title, auto action) {
    auto b = os::Button::buttonWithType(os::ButtonType::Custom);
    b->setTitle(std::string(title), os::kControlStateNormal);
    b->setFrame(os::Rect{0, 0, 60, kToolbarHeight});
    b->addTarget(this, [weak, action](os::Control&) {
      if (auto self = weak.lock()) action(static_cast<SetHeadImageViewController&>(*self));
    }, os::kControlEventTouchUpInside);
    return b;
  };
  cancelBtn_ = button(kHeadImageCancel, [](SetHeadImageViewController& c) { c.cancelBtnClick(); });
  selectBtn_ = button(kHeadImageSelect, [](SetHeadImageViewController& c) { c.selectBtnClick(); });
  toolbar_ = std::make_shared<os::Toolbar>();
  toolbar_->setBarStyle(os::BarStyle::BlackTranslucent);
  toolbar_->setFrame(os::Rect{0, screen.size.height - kToolbarHeight, screen.size.width, kToolbarHeight});
  toolbar_->setItems({os::BarButtonItem::withCustomView(cancelBtn_),
                      os::BarButtonItem::withSystemItem(os::BarButtonSystemItem::FlexibleSpace),
                      os::BarButtonItem::withCustomView(selectBtn_)});
  view()->addSubview(toolbar_);
  if (image_) {
    resetImage();
  } else {
    startActivity();  // until the picture arrives
  }
  os::NotificationCenter::defaultCenter().addObserver(
      this, os::kApplicationDidBecomeActiveNotification, nullptr, [weak](const os::Notification& n) {
        if (auto self = weak.lock()) static_cast<SetHeadImageViewController&>(*self).onClickApp(n);
      });
}

void SetHeadImageViewController::viewWillAppear(bool animated) {
  os::ViewController::viewWillAppear(animated);
  if (auto app = os::Application::shared()) {
    lastControllerStatusBarHidden_ = app->isStatusBarHidden();
    app->setStatusBarHidden(true);
  }
  enterTime_ = os::Clock::now();
}

void SetHeadImageViewController::viewWillDisappear(bool animated) {
  os::ViewController::viewWillDisappear(animated);
  if (auto app = os::Application::shared()) app->setStatusBarHidden(lastControllerStatusBarHidden_);
}

std::shared_ptr<os::View> SetHeadImageViewController::viewForZoomingInScrollView(os::ScrollView&) { return headImage_; }

void SetHeadImageViewController::scrollViewWillBeginDragging(os::ScrollView&) { report(kHeadImageReportDrag); }

void SetHeadImageViewController::startActivity() {
  if (!isViewLoaded()) return;
  stopActivity();
  activityView_ = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::WhiteLarge);
  const os::Size size = activityView_->sizeThatFits({});
  activityView_->setFrame(os::Rect{(view()->bounds().size.width - size.width) / 2, kActivityHeight - size.height / 2,
                                   size.width, size.height});
  view()->addSubview(activityView_);
  activityView_->startAnimating();
}

void SetHeadImageViewController::stopActivity() {
  if (!activityView_) return;
  activityView_->stopAnimating();
  activityView_->removeFromSuperview();
  activityView_.reset();
}

os::Size SetHeadImageViewController::ajustDisplaySize(os::Size s) {
  if (s.width <= 0 || s.height <= 0) return {kFrameSide, kFrameSide};
  if (s.width <= s.height) return {kFrameSide, s.height * kFrameSide / s.width};
  return {s.width * kFrameSide / s.height, kFrameSide};
}

std::shared_ptr<os::Image> SetHeadImageViewController::imageWithImage(const os::Image& image, os::Size size) {
  os::BitmapContext context(static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height)));
  context.drawImage(image.withScale(1), os::Rect{0, 0, size.width, size.height});
  return context.makeImage();
}

std::shared_ptr<os::Image> SetHeadImageViewController::getSubImage(const os::Image& image, os::Rect rect) {
  const os::Bitmap& bitmap = *image.sharedBitmap();
  // A frame moved past the picture's edge must not read outside the bitmap.
  const int x0 = std::clamp(static_cast<int>(std::floor(rect.origin.x)), 0, bitmap.width);
  const int y0 = std::clamp(static_cast<int>(std::floor(rect.origin.y)), 0, bitmap.height);
  const int x1 = std::clamp(static_cast<int>(std::floor(rect.origin.x + rect.size.width)), 0, bitmap.width);
  const int y1 = std::clamp(static_cast<int>(std::floor(rect.origin.y + rect.size.height)), 0, bitmap.height);
  if (x1 <= x0 || y1 <= y0) return nullptr;
  return image.cropped(os::Rect(x0, y0, x1 - x0, y1 - y0));
}

std::string SetHeadImageViewController::stringByTCOSDKTruncateWithDotAtLimit(std::size_t limit, const std::string& text) {
  std::vector<std::size_t> starts;
  std::size_t budget = limit;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const char32_t c = os::decodeUTF8At(text, at, &length);
    const std::size_t cost = c < 256 ? 1 : 2;
    if (cost > budget) return (starts.empty() ? std::string() : text.substr(0, starts.back())) + "…";
    budget -= cost;
    starts.push_back(at);
    at += std::max<std::size_t>(length, 1);
  }
  return text;
}

void SetHeadImageViewController::setImage(std::shared_ptr<os::Image> image) {
  if (image) {
    const os::Size s = image->size();
    if (s.width * s.height > kMaxDisplayPixels) {
      const double factor = 2048 / std::max(s.width, s.height);
      image = imageWithImage(*image, os::Size{std::floor(s.width * factor), std::floor(s.height * factor)});
    }
  }
  image_ = std::move(image);
  if (isViewLoaded()) resetImage();
  stopActivity();
}

void SetHeadImageViewController::resetImage() {
  if (!image_ || !scrollView_) return;
  const os::Size picture = image_->size();
  const os::Size display = ajustDisplaySize(picture);
  const double minimum = display.width / picture.width;
  // The picture at its own size, then zoomed to the display size: the crop divides the frame's
  // offset by the zoom to reach picture pixels. A picture smaller than the frame is enlarged
  // beyond the maximum, so the frame never reaches past its edges.
  scrollView_->setMinimumZoomScale(std::min(minimum, 1.0));
  scrollView_->setMaximumZoomScale(1.0);
  scrollView_->setZoomScale(1.0);
  headImage_->setImage(image_);
  headImage_->setTransform(os::AffineTransform{});
  headImage_->setFrame(os::Rect{0, 0, picture.width, picture.height});
  scrollView_->setContentSize(picture);
  scrollView_->setMinimumZoomScale(minimum);
  scrollView_->setZoomScale(minimum);
  scrollView_->setContentSize(display);
  const double top = upperDimmedHeight();
  scrollView_->setContentInset(os::EdgeInsets{top, 0, top + kToolbarHeight + 1, 1});
  scrollView_->setContentOffset(os::Point{0, -top});
}

void SetHeadImageViewController::setNick(const std::string& nick) {
  nick_ = stringByTCOSDKTruncateWithDotAtLimit(kNickLimit, nick);
  layoutNick();
}

// Icon and nick side by side, centred.
void SetHeadImageViewController::layoutNick() {
  if (!nickLabel_ || !qqImage_) return;
  nickLabel_->setText(nick_.value_or(""));
  const double width = os::Screen::main().bounds().size.width;
  const double text = std::min(nickLabel_->sizeThatFits({width, 20}).width, width - 32);
  const double left = (width - 24 - 8 - text) / 2;
  os::Rect icon = qqImage_->frame();
  icon.origin.x = left;
  qqImage_->setFrame(icon);
  os::Rect label = nickLabel_->frame();
  label.origin.x = left + 32;
  label.size.width = text;
  nickLabel_->setFrame(label);
}

bool SetHeadImageViewController::setViewControllerData(const os::Dictionary& data) {
  const std::string* nick = data["nick"].string();
  if (!nick || nick->empty()) return false;
  setNick(*nick);
  return true;
}

void SetHeadImageViewController::selectBtnClick() {
  const bool retry = selectBtn_ && selectBtn_->titleForState(os::kControlStateNormal) == kHeadImageRetry;
  if (selectBtn_) selectBtn_->setEnabled(false);
  clickTime_ = os::Clock::now();
  if (retry)
    report(kHeadImageReportRetry);
  else
    report(kHeadImageReportChoose, clickTime_ - enterTime_);
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::RunLoop::current()->performAfterDelay(this, 0.01, [weak] {
    if (auto self = weak.lock()) static_cast<SetHeadImageViewController&>(*self).onTimer();
  });
}

std::shared_ptr<os::Image> SetHeadImageViewController::cropped(os::Rect rect) const {
  auto piece = getSubImage(*image_, rect);
  if (piece && piece->size().width > kMaxUploadSide) piece = imageWithImage(*piece, {kMaxUploadSide, kMaxUploadSide});
  return piece;
}

void SetHeadImageViewController::onTimer() {
  isSetUserPic_ = true;
  auto reach = TCOSDKReachability::reachabilityWithHostName(reachabilityHost_);
  if (!reach || reach->currentReachabilityStatus() == 0) {
    if (selectBtn_) {
      selectBtn_->setEnabled(true);
      selectBtn_->setTitle(std::string(kHeadImageRetry), os::kControlStateNormal);
    }
    isCancelled_ = false;
    isSetUserPic_ = false;
    showNotify(bundleImage("error"), kHeadImageNetworkFailure);
    return;
  }
  auto delegate = delegate_.lock();
  if (!image_ || !delegate) return;
  const double zoom = scrollView_ ? scrollView_->zoomScale() : 1;
  const os::Point offset = scrollView_ ? scrollView_->contentOffset() : os::Point{};
  auto piece = cropped(os::Rect{(offset.x + 1) / zoom, (offset.y + upperDimmedHeight() + 1) / zoom, 318 / zoom, 318 / zoom});
  seq_ = piece ? delegate->didFinishedSetUserLocalPic(*this, piece, fileName_) : -1;
  if (seq_ != -1) return startActivity();  // while the upload runs
  // Refused: once more with the middle of the picture.
  const os::Size s = image_->size();
  const double side = std::floor(std::min(s.width, s.height) / 2);
  piece = cropped(os::Rect{s.width / 4, s.height / 4, side, side});
  seq_ = piece ? delegate->didFinishedSetUserLocalPic(*this, piece, fileName_) : -1;
  if (seq_ == -1) {
    if (selectBtn_) selectBtn_->setEnabled(true);
    return;
  }
  startActivity();  // while the upload runs
}

bool SetHeadImageViewController::setViewControllerResponse(const std::shared_ptr<APIResponse>& response) {
  if (!response) return false;
  stopActivity();
  // Answered: a later return to the foreground must not upload the same choice again.
  isSetUserPic_ = false;
  const os::Value* ret = response->jsonResponse() ? response->jsonResponse()->find("ret") : nullptr;
  const bool ok = response->retCode() == 0 && response->jsonResponse() && ret && ret->isNumber() && ret->intValue() == 0;
  if (!ok && selectBtn_) {
    selectBtn_->setEnabled(true);
    selectBtn_->setTitle(std::string(kHeadImageRetry), os::kControlStateNormal);
  }
  report(ok ? kHeadImageReportSuccess : kHeadImageReportFailure);
  showNotify(bundleImage(ok ? "success" : "error"), ok ? kHeadImageSuccess : kHeadImageFailure);
  return true;
}

void SetHeadImageViewController::showNotify(std::shared_ptr<os::Image> image, const std::string& text) {
  if (notify_) {
    notify_->setImage(std::move(image));
    notify_->setText(text);
  } else {
    notify_ = UINotifyView::notifyViewWithImage(std::move(image), text);
    const os::Rect screen = os::Screen::main().bounds();
    notify_->setCenter(os::Point{screen.size.width / 2, screen.size.height / 2});
  }
  if (notify_->isAnimating() || !isViewLoaded()) return;
  view()->addSubview(notify_);
  presentNotify();
}

void SetHeadImageViewController::presentNotify() {
  notify_->presentWithDuration(1.0, 0.5, view(), {});
  std::weak_ptr<os::Responder> weak = weak_from_this();
  os::RunLoop::current()->performAfterDelay(this, 1.1, [weak] {
    if (auto self = weak.lock()) static_cast<SetHeadImageViewController&>(*self).removeNotifyView();
  });
}

void SetHeadImageViewController::removeNotifyView() {
  if (!notify_) return;
  notify_->setIsAnimating(false);
  notify_->removeFromSuperview();
}

void SetHeadImageViewController::cancelBtnClick() {
  clickTime_ = os::Clock::now();
  report(kHeadImageReportCancel, clickTime_ - enterTime_);
  if (auto delegate = delegate_.lock()) delegate->didCancelled(seq_);
}

void SetHeadImageViewController::onClickApp(const os::Notification&) {
  if (isSetUserPic_) {
    stopActivity();
    selectBtnClick();
    return;
  }
  if (notify_ && notify_->isAnimating() && isViewLoaded()) {
    if (!notify_->superview()) view()->addSubview(notify_);
    presentNotify();
  }
}
