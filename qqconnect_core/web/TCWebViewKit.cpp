#include "qqconnect_core/web/TCWebViewKit.h"

#include <algorithm>

#include "qqconnect_core/login/TcApiTool.h"
#include "os/core/URL.h"
#include "os/net/URLError.h"
#include "os/runtime/DispatchQueue.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/views/Application.h"
#include "os/views/BarButtonItem.h"
#include "os/views/NavigationBar.h"
#include "os/views/Screen.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"

namespace {

// The static-content host that "local.html" pages are shown under.
constexpr const char* kLocalPageBase = "http://qzonestyle.velmora.example/?";

bool isLocalPage(const std::optional<os::URL>& url) {
  return url && url->host() == "localhost" && url->lastPathComponent() == "local.html";
}

// The picture stretched as a bar background with these caps (in points), at that size: its own
// pixels inside the caps, its last column and row carried on where it is smaller.
std::shared_ptr<os::Image> stretchedWithCaps(const os::Image& image, int leftCapWidth, int topCapHeight) {
  const double scale = image.scale();
  const int width = static_cast<int>(leftCapWidth * scale), height = static_cast<int>(topCapHeight * scale);
  auto upright = image.upright();
  const os::Bitmap& source = upright->bitmap();
  if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0) return upright;
  os::Bitmap out(width, height, 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto rgba = source.rgba(std::min(x, source.width - 1), std::min(y, source.height - 1));
      std::copy(rgba.begin(), rgba.end(), out.pixel(x, y));
    }
  }
  return os::Image::create(std::move(out), scale);
}

}  // namespace

// ---- the web screen ----

TCWebViewController::TCWebViewController(std::string url, std::string title,
                                         std::weak_ptr<TCWebViewControllerDelegate> delegate)
    : webTitle_(std::move(title)), requestURLStr_(std::move(url)), delegate_(std::move(delegate)) {}

void TCWebViewController::setWebTitle(std::string title) {
  webTitle_ = std::move(title);
  navigationItem()->setTitle(webTitle_);
}

void TCWebViewController::viewDidLoad() {
  nloadCount_ = 0;
  webview_ = std::make_shared<os::WebView>(view()->bounds());
  webview_->setAutoresizingMask(0x3F);
  webview_->setDelegate(std::dynamic_pointer_cast<os::WebViewDelegate>(shared_from_this()));
  view()->addSubview(webview_);
  activityIndicatorView_ = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
  const os::Size size = activityIndicatorView_->sizeThatFits({});
  const os::Rect bounds = webview_->bounds();
  activityIndicatorView_->setFrame(
      os::Rect{(bounds.size.width - size.width) / 2, (bounds.size.height - size.height) / 2, size.width, size.height});
  activityIndicatorView_->setHidesWhenStopped(true);
  activityIndicatorView_->setAutoresizingMask(os::kViewAutoresizingFlexibleLeftMargin | os::kViewAutoresizingFlexibleRightMargin |
                                              os::kViewAutoresizingFlexibleTopMargin |
                                              os::kViewAutoresizingFlexibleBottomMargin);
  webview_->addSubview(activityIndicatorView_);
  loadURL();
}

void TCWebViewController::webViewDidStartLoad(os::WebView&) {
  if (activityIndicatorView_) activityIndicatorView_->startAnimating();
}

void TCWebViewController::loadURL() {
  if (!webview_) return;
  auto url = os::URL::parse(requestURLStr_);
  if (isLocalPage(url)) {
    auto bytes = os::FileManager::defaultManager().contentsAtPath(url->path());
    webview_->loadHTMLString(bytes ? std::string(bytes->begin(), bytes->end()) : std::string(),
                             os::URL::parse(std::string(kLocalPageBase) + url->query().value_or("")));
    return;
  }
  webview_->loadRequest(
      os::URLRequest(requestURLStr_, os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, kTCWebViewRequestTimeout));
}

void TCWebViewController::stopLoad() {
  if (webview_) webview_->stopLoading();
}

bool TCWebViewController::shouldStartLoadWithRequest(os::WebView&, const os::URLRequest& request,
                                                     os::WebViewNavigationType type) {
  auto delegate = delegate_.lock();
  return delegate ? delegate->webViewControllerShouldStartLoadWithRequest(*this, request, type) : true;
}

void TCWebViewController::webViewDidFinishLoad(os::WebView& webView) {
  if (activityIndicatorView_) activityIndicatorView_->stopAnimating();
  if (webTitle_.empty()) setWebTitle(webView.stringByEvaluatingJavaScriptFromString("document.title"));
}

void TCWebViewController::didFailLoadWithError(os::WebView&, const os::Error& error) {
  if (activityIndicatorView_) activityIndicatorView_->stopAnimating();
  error_ = error;
  if (auto delegate = delegate_.lock()) delegate->webViewControllerDidFailLoadWithError(*this, error);
}

void TCWebViewController::reportClose() {
  auto delegate = delegate_.lock();
  delegate_.reset();
  if (delegate) delegate->webViewControllerDidCloseWithLastError(*this, error_);
}

void TCWebViewController::doClose() {
  nloadCount_ = 0;
  finished_ = true;
  reportClose();
}

void TCWebViewController::viewDidDisappear(bool) { reportClose(); }

void TCWebNavigationController::viewDidLoad() {
  os::NavigationController::viewDidLoad();
  auto bundle = os::Bundle::mainBundle();
  std::optional<std::string> path;
  const auto settings = TcApiTool::getAppDefinePath();
  const os::Value& setting = settings ? (*settings)["NavigationBar"] : os::Value::null();
  if (const std::string* name = setting.string()) {
    if (name->find(".bundle") != std::string::npos)
      path = bundle->bundlePath() + "/" + *name;
    else
      path = bundle->pathForResource(*name, "");
  } else {
    path = bundle->bundlePath() + "/VelmoraOpenApi_IOS_Bundle.bundle/velmoraSDKNavigationBar.png";
  }
  if (!path) return;
  auto bytes = os::FileManager::defaultManager().contentsAtPath(*path);
  auto image = bytes ? os::decodeImage(*bytes) : nullptr;
  if (!image) return;
  const os::Size bar = navigationBar()->frame().size;
  navigationBar()->setBackgroundImage(stretchedWithCaps(*image, static_cast<int>(bar.width), static_cast<int>(bar.height)));
}

// ---- the kit ----

TCWebViewKit::~TCWebViewKit() {
  if (window_) {
    window_->setRootViewController(nullptr);
    window_->setHidden(true);
  }
}

bool TCWebViewKit::openWithUrl(std::string url, std::string title, std::weak_ptr<TCWebViewKitDelegate> delegate) {
  requestUrl_ = std::move(url);
  webTitle_ = std::move(title);
  delegate_ = std::move(delegate);
  return open();
}

std::shared_ptr<TCWebViewController> TCWebViewKit::makeController() {
  auto controller = std::make_shared<TCWebViewController>(requestUrl_, webTitle_, weak_from_this());
  controller->navigationItem()->setTitle(webTitle_);
  return controller;
}

bool TCWebViewKit::open() {
  // A page still up is replaced: its close, reported a turn later, would reach the delegate of
  // the page that replaces it.
  if (webViewController_) webViewController_->setDelegate({});
  closeWindow();
  keywindow_ = os::Window::keyWindow();
  const os::Rect screen = os::Screen::main().bounds();
  window_ = std::make_shared<os::Window>(
      os::Rect{screen.origin.x - screen.size.width, screen.origin.y, screen.size.width, screen.size.height});
  window_->makeKeyAndVisible();
  TcApiTool::MoveWindowAnimation(window_, 0, screen, 0.2, "moveIntoFrame");

  webViewController_ = makeController();
  auto nav = std::make_shared<TCWebNavigationController>(webViewController_);
  std::weak_ptr<TCWebViewKit> weak = weak_from_this();
  webViewController_->navigationItem()->setLeftBarButtonItem(
      os::BarButtonItem::withTitle(kTCWebViewKitCloseTitle, os::BarButtonItemStyle::Bordered, [weak](os::BarButtonItem&) {
        if (auto kit = weak.lock()) kit->onClickClose();
      }));
  window_->setRootViewController(nav);
  if (isLocalPage(os::URL::parse(requestUrl_))) nav->setNavigationBarHidden(true);
  windowsArray_.push_back(window_);
  MoveOtherWindowOutOfFrame();
  return true;
}

void TCWebViewKit::loadURL(std::string url, std::string title, std::weak_ptr<TCWebViewKitDelegate> delegate) {
  requestUrl_ = std::move(url);
  webTitle_ = std::move(title);
  delegate_ = std::move(delegate);
  if (!webViewController_) {
    open();
    return;
  }
  webViewController_->setWebTitle(webTitle_);
  webViewController_->setDelegate(weak_from_this());
  webViewController_->setRequestURLStr(requestUrl_);
  webViewController_->loadURL();
}

std::shared_ptr<TCWebViewController> TCWebViewKit::getViewControllerWithUrl(std::string url, std::string title,
                                                                            std::weak_ptr<TCWebViewKitDelegate> delegate) {
  requestUrl_ = std::move(url);
  webTitle_ = std::move(title);
  delegate_ = std::move(delegate);
  return makeController();
}

void TCWebViewKit::MoveOtherWindowOutOfFrame() { TcApiTool::MoveOtherWindowOutOfFrame(windowsArray_, true); }

void TCWebViewKit::MoveOhterWindowIntoFrame(bool animated) {
  TcApiTool::MoveAllWindowIntoScreen(windowsArray_, animated);
  windowsArray_.clear();
}

void TCWebViewKit::close(bool animated) {
  if (!window_ || isClosing_) return;
  isClosing_ = true;
  MoveOhterWindowIntoFrame(animated);
  os::Rect frame = window_->frame();
  frame.origin.x -= os::Screen::main().bounds().size.width;
  auto self = shared_from_this();
  if (!animated) {
    window_->setFrame(frame);
    closeWindow();
    return;
  }
  auto window = window_;
  os::View::animate(
      0.3, [window, frame] { window->setFrame(frame); },
      [self](bool) { self->closeWindow(); });
}

void TCWebViewKit::closeWindow() {
  if (!window_) return;
  if (auto previous = keywindow_.lock()) previous->makeKeyWindow();
  keywindow_.reset();
  auto window = std::move(window_);
  auto controller = std::move(webViewController_);
  windowsArray_.clear();
  isClosing_ = false;
  // The web view may be inside one of its own callbacks: let it go on a later turn.
  os::DispatchQueue::main()->async([window, controller] {
    window->setRootViewController(nullptr);
    window->setHidden(true);
  });
}

void TCWebViewKit::onClickClose() {
  if (webViewController_) webViewController_->doClose();
  doClose();
}

void TCWebViewKit::setNavigationTitle(const std::optional<std::string>& title) {
  if (webViewController_) webViewController_->setWebTitle(title.value_or(""));
}

void TCWebViewKit::setLeftNavigationBarButton(const std::optional<std::string>& title,
                                              const std::optional<std::string>& js) {
  if (webViewController_)
    webViewController_->navigationItem()->setLeftBarButtonItem(createNavigationBarButton(title.value_or(""), js));
}

void TCWebViewKit::setRightNavigationBarButton(const std::optional<std::string>& title,
                                               const std::optional<std::string>& js) {
  if (webViewController_)
    webViewController_->navigationItem()->setRightBarButtonItem(createNavigationBarButton(title.value_or(""), js));
}

void TCWebViewKit::setNavigationBarHidden(const std::optional<std::string>& hidden,
                                          const std::optional<std::string>& animated) {
  auto* nav = webViewController_ ? webViewController_->navigationController() : nullptr;
  if (nav) nav->setNavigationBarHidden(os::Value(hidden.value_or("")).boolValue(), os::Value(animated.value_or("")).boolValue());
}

std::shared_ptr<os::BarButtonItem> TCWebViewKit::createNavigationBarButton(const std::string& title,
                                                                           std::optional<std::string> js) {
  std::weak_ptr<TCWebViewKit> weak = weak_from_this();
  // The script bound to the button runs in the page when it is tapped.
  auto action = [weak, js](os::BarButtonItem&) {
    auto kit = weak.lock();
    if (!kit || !js || !kit->webViewController_ || !kit->webViewController_->webview()) return;
    kit->webViewController_->webview()->stringByEvaluatingJavaScriptFromString(*js);
  };
  if (title == "取消") return os::BarButtonItem::withSystemItem(os::BarButtonSystemItem::Cancel, action);
  if (title == "完成") return os::BarButtonItem::withSystemItem(os::BarButtonSystemItem::Done, action);
  return os::BarButtonItem::withTitle(title, os::BarButtonItemStyle::Bordered, action);
}

bool TCWebViewKit::runBridgeCommand(const os::URL& url) {
  std::string name = url.host().value_or("");
  std::replace(name.begin(), name.end(), '-', ':');
  std::vector<std::optional<std::string>> args;
  for (const std::string& piece : url.pathComponents())
    if (piece != "/") args.emplace_back(piece);
  args.resize(std::max<std::size_t>(args.size(), 2));
  if (name == "setNavigationTitle:") return setNavigationTitle(args[0]), true;
  if (name == "setLeftNavigationBarButton:bindingJS:") return setLeftNavigationBarButton(args[0], args[1]), true;
  if (name == "setRightNavigationBarButton:bindingJS:") return setRightNavigationBarButton(args[0], args[1]), true;
  if (name == "setNavigationBarHidden:animated:") return setNavigationBarHidden(args[0], args[1]), true;
  if (name == "doClose") return doClose(), true;
  if (name == "doCloseWithNotAnimation") return doCloseWithNotAnimation(), true;
  if (name == "onClickClose") return onClickClose(), true;
  return false;
}

void TCWebViewKit::webViewControllerDidCloseWithLastError(TCWebViewController&, const std::optional<os::Error>& error) {
  auto self = shared_from_this();
  if (auto d = delegate()) d->webViewKitDidFinishedWithError(*this, error);
  doClose();
}

void TCWebViewKit::webViewControllerDidFailLoadWithError(TCWebViewController&, const os::Error& error) {
  auto d = delegate();
  if (!d) return;
  const bool cancelled = error.code == os::kURLErrorCancelled &&
                         (error.domain == os::kURLErrorDomain || error.domain == os::kWebViewErrorDomain);
  const bool interrupted = error.domain == os::kWebViewErrorDomain && error.code == os::kWebViewErrorFrameLoadInterrupted;
  if (cancelled)
    d->webViewKitDidLoadWithContentError(*this, error);
  else if (!interrupted)
    d->webViewKitDidLoadWithNetworkError(*this, error);
}

bool TCWebViewKit::webViewControllerShouldStartLoadWithRequest(TCWebViewController&, const os::URLRequest& request,
                                                               os::WebViewNavigationType type) {
  auto url = os::URL::parse(request.url());
  // A page may write its arguments unescaped.
  if (!url) url = os::URL::parseEscaping(request.url());
  if (!url || url->scheme() != "tcwebviewkit") {
    auto d = delegate();
    return d ? d->webViewKitShouldStartLoadWithRequest(*this, request, type) : true;
  }
  // A command, never a page: the page stays where it is.
  auto self = shared_from_this();
  runBridgeCommand(*url);
  return false;
}
