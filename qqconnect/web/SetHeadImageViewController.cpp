#include "qqconnect/web/SetHeadImageViewController.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "qqconnect/requests/TCOSDKReachability.h"
#include "qqconnect/web/UINotifyView.h"
#include "os/core/String.h"
#include "os/graphics/BitmapContext.h"
#include "os/graphics/Image.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Button.h"
#include "os/views/Control.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/ScrollView.h"

namespace {

constexpr double kToolbarHeight = 55;
constexpr std::size_t kNickLimit = 24;

}  // namespace

SetHeadImageViewController::SetHeadImageViewController(std::string fileName, std::weak_ptr<setHeadImageDelegate> delegate,
                                                       std::string reachabilityHost)
    : delegate_(std::move(delegate)), fileName_(fileName.empty() ? kHeadImageDefaultFileName : std::move(fileName)),
      reachabilityHost_(std::move(reachabilityHost)) {}

double SetHeadImageViewController::upperDimmedHeight() const {
  return (os::Screen::main().bounds().size.height - kToolbarHeight - kFrameSide) / 2;
}

void SetHeadImageViewController::viewDidLoad() {
  const os::Rect screen = os::Screen::main().bounds();
  view()->setBackgroundColor(os::Color::black());
  scrollView_ = std::make_shared<os::ScrollView>(screen);
  headImage_ = std::make_shared<os::ImageView>();
  scrollView_->addSubview(headImage_);
  view()->addSubview(scrollView_);
  const double top = upperDimmedHeight();
  for (const os::Rect& r : {os::Rect{0, 0, screen.size.width, top},
                            os::Rect{0, top + kFrameSide, screen.size.width, screen.size.height - top - kFrameSide}}) {
    auto dim = std::make_shared<os::View>(r);
    dim->setBackgroundColor(os::Color::rgba(0, 0, 0, 0.6));
    dim->setUserInteractionEnabled(false);
    view()->addSubview(dim);
  }
  nickLabel_ = std::make_shared<os::Label>();
  nickLabel_->setFrame(os::Rect{0, top - 30, screen.size.width, 20});
  nickLabel_->setTextColor(os::Color::withWhite(1));
  view()->addSubview(nickLabel_);
  if (nick_) nickLabel_->setText(*nick_);

  std::weak_ptr<os::Responder> weak = weak_from_this();
  auto button = [&](const char* title, double x, auto action) {
    auto b = os::Button::buttonWithType(os::ButtonType::Custom);
    b->setTitle(std::string(title), os::kControlStateNormal);
    b->setFrame(os::Rect{x, screen.size.height - kToolbarHeight, 60, kToolbarHeight});
    b->addTarget(this, [weak, action](os::Control&) {
      if (auto self = weak.lock()) action(static_cast<SetHeadImageViewController&>(*self));
    }, os::kControlEventTouchUpInside);
    view()->addSubview(b);
    return b;
  };
  cancelBtn_ = button("取消", 0, [](SetHeadImageViewController& c) { c.cancelBtnClick(); });
  selectBtn_ = button(kHeadImageSelect, screen.size.width - 60, [](SetHeadImageViewController& c) { c.selectBtnClick(); });
  if (image_) resetImage();
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
}

void SetHeadImageViewController::resetImage() {
  if (!image_ || !scrollView_) return;
  const os::Size display = ajustDisplaySize(image_->size());
  headImage_->setImage(image_);
  headImage_->setFrame(os::Rect{0, 0, display.width, display.height});
  scrollView_->setContentSize(display);
  const double top = upperDimmedHeight();
  scrollView_->setContentInset(os::EdgeInsets{top, 0, top + kToolbarHeight + 1, 1});
  const double minimum = display.width / image_->size().width;
  scrollView_->setMinimumZoomScale(minimum);
  scrollView_->setMaximumZoomScale(1.0);
  scrollView_->setZoomScale(minimum);
}

void SetHeadImageViewController::setNick(const std::string& nick) {
  nick_ = stringByTCOSDKTruncateWithDotAtLimit(kNickLimit, nick);
  if (nickLabel_) nickLabel_->setText(*nick_);
}

bool SetHeadImageViewController::setViewControllerData(const os::Dictionary& data) {
  const std::string* nick = data["nick"].string();
  if (!nick || nick->empty()) return false;
  setNick(*nick);
  return true;
}

void SetHeadImageViewController::selectBtnClick() {
  if (selectBtn_) selectBtn_->setEnabled(false);
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
    isSetUserPic_ = false;
    showNotify(os::imageNamed("VelmoraOpenApi_IOS_Bundle.bundle/error.png"), kHeadImageNetworkFailure);
    return;
  }
  auto delegate = delegate_.lock();
  if (!image_ || !delegate) return;
  const double zoom = scrollView_ ? scrollView_->zoomScale() : 1;
  const os::Point offset = scrollView_ ? scrollView_->contentOffset() : os::Point{};
  auto piece = cropped(os::Rect{(offset.x + 1) / zoom, (offset.y + upperDimmedHeight() + 1) / zoom, 318 / zoom, 318 / zoom});
  seq_ = piece ? delegate->didFinishedSetUserLocalPic(*this, piece, fileName_) : -1;
  if (seq_ != -1) return;
  // Refused: once more with the middle of the picture.
  const os::Size s = image_->size();
  const double side = std::floor(std::min(s.width, s.height) / 2);
  piece = cropped(os::Rect{s.width / 4, s.height / 4, side, side});
  seq_ = piece ? delegate->didFinishedSetUserLocalPic(*this, piece, fileName_) : -1;
  if (seq_ == -1 && selectBtn_) selectBtn_->setEnabled(true);
}

bool SetHeadImageViewController::setViewControllerResponse(const std::shared_ptr<APIResponse>& response) {
  if (!response) return false;
  const os::Value* ret = response->jsonResponse() ? response->jsonResponse()->find("ret") : nullptr;
  const bool ok = response->retCode() == 0 && response->jsonResponse() && ret && ret->isNumber() && ret->intValue() == 0;
  if (!ok && selectBtn_) {
    selectBtn_->setEnabled(true);
    selectBtn_->setTitle(std::string(kHeadImageRetry), os::kControlStateNormal);
  }
  showNotify(os::imageNamed(ok ? "VelmoraOpenApi_IOS_Bundle.bundle/success.png"
                                           : "VelmoraOpenApi_IOS_Bundle.bundle/error.png"),
             ok ? kHeadImageSuccess : kHeadImageFailure);
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
  auto shown = notify_;
  notify_->presentWithDuration(1.0, 0.5, view(), [shown] { shown->removeFromSuperview(); });
}

void SetHeadImageViewController::cancelBtnClick() {
  if (auto delegate = delegate_.lock()) delegate->didCancelled(seq_);
}
