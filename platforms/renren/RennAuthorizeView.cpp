#include "platforms/renren/RennAuthorizeView.h"

#include <cmath>
#include <numbers>

#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/graphics/Font.h"
#include "os/graphics/GraphicsContext.h"
#include "os/runtime/DispatchQueue.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"
#include "platforms/renren/RennClient.h"
#include "platforms/renren/RennLoginService.h"
#include "platforms/renren/RennUtility.h"

namespace {

constexpr double kBounce1Duration = 0.2;
constexpr double kBounce2Duration = 0.15;
// The status bar's rotation takes this long on the phone.
constexpr double kOrientationAnimationDuration = 0.3;

bool isLandscape(int orientation) { return orientation == 3 || orientation == 4; }

int statusBarOrientation() {
  auto app = os::Application::shared();
  return app ? static_cast<int>(app->statusBarOrientation()) : 1;
}

}  // namespace

std::shared_ptr<RennAuthorizeView> RennAuthorizeView::initWithAuthParams(os::Dictionary params,
                                                                         std::weak_ptr<RennLoginDelegate> delegate,
                                                                         std::string webAuthUrl) {
  auto view = std::make_shared<RennAuthorizeView>();
  view->delegate_ = std::move(delegate);
  if (const std::string* redirect = params["redirect_uri"].string()) view->appRedirectURI_ = *redirect;
  view->authParams_ = std::move(params);
  view->rennWebAuthURL_ = std::move(webAuthUrl);
  view->webView_->setDelegate(std::static_pointer_cast<os::WebViewDelegate>(view));
  return view;
}

RennAuthorizeView::RennAuthorizeView() {
  setBackgroundColor(os::Color::clear());
  setAutoresizesSubviews(true);
  setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  setContentMode(os::ViewContentMode::Redraw);

  webView_ = std::make_shared<os::WebView>();
  webView_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  addSubview(webView_);

  closeButton_ = os::Button::buttonWithType(os::ButtonType::Custom);
  closeButton_->setImage(os::imageNamed("RennSDK.bundle/images/close.png"), os::kControlStateNormal);
  closeButton_->setTitleColor(os::Color::fromRGB255(167, 184, 216), os::kControlStateNormal);
  closeButton_->setTitleColor(os::Color::withWhite(1), os::kControlStateHighlighted);
  closeButton_->titleLabel()->setFont(os::Font::boldSystemFont(12));
  closeButton_->setShowsTouchWhenHighlighted(true);
  closeButton_->setAutoresizingMask(os::kViewAutoresizingFlexibleRightMargin |
                                    os::kViewAutoresizingFlexibleBottomMargin);
  closeButton_->addTarget(
      this, [this](os::Control&) { cancel(); }, os::kControlEventTouchUpInside);
  addSubview(closeButton_);

  indicatorView_ = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
  indicatorView_->setAutoresizingMask(
      os::kViewAutoresizingFlexibleTopMargin | os::kViewAutoresizingFlexibleBottomMargin |
      os::kViewAutoresizingFlexibleLeftMargin | os::kViewAutoresizingFlexibleRightMargin);
  addSubview(indicatorView_);

  modalBackgroundView_ = std::make_shared<os::View>();
}

RennAuthorizeView::~RennAuthorizeView() { removeObservers(); }

void RennAuthorizeView::drawRect(const os::Rect& rect) {
  os::GraphicsContext* context = os::currentGraphicsContext();
  if (!context) return;
  drawRectFill(*context, rect, os::Color::rgba(0.3, 0.3, 0.3, 0.8));
  os::Rect inner{{std::ceil(rect.origin.x + 10), std::ceil(rect.origin.y + 10) + 1},
                 {rect.size.width - 20, rect.size.height - 21}};
  strokeLines(*context, inner, os::Color::rgba(0.3, 0.3, 0.3, 1.0));
}

// The dialog's box has square corners.
void RennAuthorizeView::drawRectFill(os::GraphicsContext& context, const os::Rect& rect, const os::Color& fill) {
  context.saveState();
  context.setFillColor(fill);
  context.fillRect(rect);
  context.restoreState();
}

// One-point lines on half-point positions just inside each edge.
void RennAuthorizeView::strokeLines(os::GraphicsContext& context, const os::Rect& r, const os::Color& stroke) {
  const double left = r.origin.x + 0.5, top = r.origin.y + 0.5;
  const double right = r.origin.x + r.size.width - 0.5, bottom = r.origin.y + r.size.height - 0.5;
  context.saveState();
  context.setStrokeColor(stroke);
  context.setLineWidth(1);
  context.beginPath();
  context.moveTo(left, top);
  context.addLineTo(right, top);
  context.moveTo(right, top);
  context.addLineTo(right, bottom);
  context.moveTo(right, bottom);
  context.addLineTo(left, bottom);
  context.moveTo(left, bottom);
  context.addLineTo(left, top);
  context.strokePath();
  context.restoreState();
}

bool RennAuthorizeView::shouldRotateToOrientation(int orientation) const {
  if (orientation == previousOrientation_) return false;
  return orientation >= 1 && orientation <= 4;
}

os::AffineTransform RennAuthorizeView::transformForOrientation() const {
  switch (statusBarOrientation()) {
    case 2:
      return os::AffineTransform::makeRotation(-std::numbers::pi);
    case 3:
      return os::AffineTransform::makeRotation(std::numbers::pi / 2);
    case 4:
      return os::AffineTransform::makeRotation(3 * std::numbers::pi / 2);
    default:
      return os::AffineTransform();
  }
}

void RennAuthorizeView::sizeToFitOrientation(bool transform) {
  if (transform) setTransform(os::AffineTransform());
  const os::Rect frame = os::Screen::main().applicationFrame();
  double width = std::floor(frame.size.width), height = std::floor(frame.size.height);
  const int orientation = statusBarOrientation();
  if (isLandscape(orientation)) std::swap(width, height);
  setFrame({{0, 0}, {width, height}});
  setCenter({frame.origin.x + std::ceil(frame.size.width / 2), frame.origin.y + std::ceil(frame.size.height / 2)});
  previousOrientation_ = orientation;
  if (transform) setTransform(transformForOrientation());
}

void RennAuthorizeView::updateWebOrientation() {
  if (isLandscape(statusBarOrientation()))
    webView_->stringByEvaluatingJavaScriptFromString("document.body.setAttribute('orientation', 90);");
  else
    webView_->stringByEvaluatingJavaScriptFromString("document.body.removeAttribute('orientation');");
}

void RennAuthorizeView::deviceOrientationDidChange() {
  if (!shouldRotateToOrientation(statusBarOrientation())) return;
  std::weak_ptr<RennAuthorizeView> weak = self();
  os::View::animate(kOrientationAnimationDuration, 0, os::kViewAnimationOptionCurveEaseInOut, [weak] {
    if (auto dialog = weak.lock()) dialog->sizeToFitOrientation(true);
  });
}

void RennAuthorizeView::load() {
  const std::string address = RennUtility::serializeURL(rennWebAuthURL_, authParams_);
  webView_->loadRequest(os::URLRequest(address));
}

void RennAuthorizeView::show() {
  load();
  sizeToFitOrientation(false);
  closeButton_->sizeToFit();
  closeButton_->setFrame({{2, 2}, {29, 29}});
  const os::Rect f = frame();
  webView_->setFrame({{11, 11}, {f.size.width - 22, f.size.height - 21}});
  showWebView();
  showIndicator();
  addObservers();
}

void RennAuthorizeView::showWebView() {
  auto app = os::Application::shared();
  std::shared_ptr<os::Window> window = app ? app->keyWindow() : nullptr;
  if (!window && app && !app->windows().empty()) window = app->windows().front();
  if (!window) return;
  modalBackgroundView_->setFrame(window->frame());
  modalBackgroundView_->addSubview(self());
  window->addSubview(modalBackgroundView_);
  setTransform(transformForOrientation().scale(0.001, 0.001));
  bounce(1);
}

// Pops in: grows past its size, shrinks below it, settles.
void RennAuthorizeView::bounce(int step) {
  std::weak_ptr<RennAuthorizeView> weak = self();
  auto alive = [weak] { return weak.lock(); };
  if (step == 1) {
    os::View::animate(
        kBounce1Duration, [this] { setTransform(transformForOrientation().scale(1.1, 1.1)); },
        [alive](bool) {
          if (auto v = alive()) v->bounce(2);
        });
  } else if (step == 2) {
    os::View::animate(
        kBounce2Duration, [this] { setTransform(transformForOrientation().scale(0.9, 0.9)); },
        [alive](bool) {
          if (auto v = alive()) v->bounce(3);
        });
  } else {
    os::View::animate(kBounce2Duration, [this] { setTransform(transformForOrientation()); });
  }
}

void RennAuthorizeView::showIndicator() {
  indicatorView_->sizeToFit();
  indicatorView_->startAnimating();
  indicatorView_->setCenter(webView_->center());
}

void RennAuthorizeView::hideIndicator() { indicatorView_->stopAnimating(); }

void RennAuthorizeView::addObservers() {
  if (orientationObserver_) return;
  std::weak_ptr<RennAuthorizeView> weak = self();
  orientationObserver_ = os::NotificationCenter::defaultCenter().addObserver(
      os::kDeviceOrientationDidChangeNotification, nullptr, [weak](const os::Notification&) {
        if (auto dialog = weak.lock()) dialog->deviceOrientationDidChange();
      });
}

void RennAuthorizeView::removeObservers() {
  if (!orientationObserver_) return;
  os::NotificationCenter::defaultCenter().removeObserver(orientationObserver_);
  orientationObserver_ = 0;
}

void RennAuthorizeView::hide() {
  removeObservers();
  // The container keeps the dialog alive until it leaves the screen. The web view is stopped
  // there too: hide() runs inside the web view's own navigation callbacks, which must not be
  // torn down while they run.
  auto container = modalBackgroundView_;
  auto dialog = self();
  os::DispatchQueue::main()->async([container, dialog] {
    dialog->webView_->stopLoading();
    dialog->removeFromSuperview();
    container->removeFromSuperview();
  });
}

void RennAuthorizeView::cancel() {
  if (ended_) return;
  ended_ = true;
  hide();
  if (auto d = delegate_.lock()) d->rennLoginCancelded();
}

bool RennAuthorizeView::shouldStartLoadWithRequest(os::WebView&, const os::URLRequest& request,
                                                   os::WebViewNavigationType) {
  const std::string& url = request.url();
  if (!os::hasPrefix(url, RennLoginService::sharedRennLoginService().successPage())) return true;
  if (ended_) return false;

  if (auto code = RennUtility::getParamValueFromUrl(url, "error_code")) {
    ended_ = true;
    hide();
    // Every part of the answer that came, even when one before it did not.
    os::Dictionary info;
    for (const char* key : {"error", "error_uri", "error_code", "error_description"})
      if (auto value = RennUtility::getParamValueFromUrl(url, key)) info.set(key, os::Value(*value));
    if (auto d = delegate_.lock()) d->rennLoginDidFailWithError(os::Error("renren", 0, std::move(info)));
    return false;
  }
  if (auto access = RennUtility::getParamValueFromUrl(url, "access_token")) {
    ended_ = true;
    hide();
    if (access->empty()) {
      // An empty token signs nothing: the login failed, and the token stored before stays.
      if (auto d = delegate_.lock())
        d->rennLoginDidFailWithError(
            os::Error::withDescription("renren", 0, "The authorize page answered an empty access token."));
      return false;
    }
    RennAccessToken token;
    token.setAccessToken(*access);
    token.setExpiresIn(os::longLongValue(RennUtility::getParamValueFromUrl(url, "expires_in").value_or("")));
    if (auto scope = RennUtility::getParamValueFromUrl(url, "scope"))
      token.setAccessScope(os::replaceAll(*scope, "+", " "));
    auto macKey = RennUtility::getParamValueFromUrl(url, "mac_key");
    token.setMacKey(macKey);
    token.setMacAlgorithm(RennUtility::getParamValueFromUrl(url, "mac_algorithm"));
    token.setTokenType(macKey && !macKey->empty() ? "mac" : "bearer");
    token.setRequestTime(os::Date::now().timeIntervalSince1970());
    RennClient::setAccessToken(token);
    if (auto d = delegate_.lock()) d->rennLoginSuccess();
  }
  return false;
}

void RennAuthorizeView::webViewDidFinishLoad(os::WebView& webView) {
  hideIndicator();
  webView.stringByEvaluatingJavaScriptFromString(os::format(
      "document.getElementsByName(\"viewport\")[0].content = \"width=%f, initial-scale=1.0, minimum-scale=1.0, "
      "maximum-scale=1.0, user-scalable=no\"",
      webView.frame().size.width));
}

void RennAuthorizeView::didFailLoadWithError(os::WebView&, const os::Error&) { hideIndicator(); }
