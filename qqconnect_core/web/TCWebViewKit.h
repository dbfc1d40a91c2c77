#pragma once
// The QQ Connect client's web pages in a window of their own that slides in over the
// application: the window, its navigation controller and web screen, the other windows moved out
// and back, and a small command bridge (a navigation to "TCWebViewKit://command-/arg" calls a
// command of the kit; bar buttons run page scripts bound to them).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/net/URLRequest.h"
#include "os/views/NavigationController.h"
#include "os/views/ViewController.h"
#include "os/views/WebView.h"

namespace os {
class ActivityIndicatorView;
class BarButtonItem;
class Window;
}  // namespace os

class TCWebViewController;
class TCWebViewKit;

inline constexpr const char* kTCWebViewKitScheme = "TCWebViewKit";
inline constexpr const char* kTCWebViewKitCloseTitle = "关闭";
inline constexpr double kTCWebViewRequestTimeout = 30;

// Every operation optional; held weakly.
class TCWebViewControllerDelegate {
 public:
  virtual ~TCWebViewControllerDelegate() = default;
  virtual void webViewControllerDidCloseWithLastError(TCWebViewController&, const std::optional<os::Error>&) {}
  virtual void webViewControllerDidFailLoadWithError(TCWebViewController&, const os::Error&) {}
  virtual bool webViewControllerShouldStartLoadWithRequest(TCWebViewController&, const os::URLRequest&,
                                                           os::WebViewNavigationType) {
    return true;
  }
};

class TCWebViewKitDelegate {
 public:
  virtual ~TCWebViewKitDelegate() = default;
  virtual void webViewKitDidFinishedWithError(TCWebViewKit&, const std::optional<os::Error>&) {}
  virtual void webViewKitDidLoadWithContentError(TCWebViewKit&, const os::Error&) {}
  virtual void webViewKitDidLoadWithNetworkError(TCWebViewKit&, const os::Error&) {}
  virtual bool webViewKitShouldStartLoadWithRequest(TCWebViewKit&, const os::URLRequest&, os::WebViewNavigationType) {
    return true;
  }
};

class TCWebViewController : public os::ViewController, public os::WebViewDelegate {
 public:
  TCWebViewController(std::string url, std::string title, std::weak_ptr<TCWebViewControllerDelegate> delegate);
  std::string className() const override { return "TCWebViewController"; }

  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;
  unsigned supportedInterfaceOrientations() const override { return 30; }

  void loadURL();
  void stopLoad();
  // Reports the close once, with the last load error, and forgets the delegate.
  void doClose();

  const std::shared_ptr<os::WebView>& webview() const { return webview_; }
  const std::string& requestURLStr() const { return requestURLStr_; }
  void setRequestURLStr(std::string url) { requestURLStr_ = std::move(url); }
  const std::string& webTitle() const { return webTitle_; }
  void setWebTitle(std::string title);
  const std::optional<os::Error>& error() const { return error_; }
  bool finished() const { return finished_; }
  // Turns while a page loads.
  const std::shared_ptr<os::ActivityIndicatorView>& activityIndicatorView() const { return activityIndicatorView_; }
  void setDelegate(std::weak_ptr<TCWebViewControllerDelegate> d) { delegate_ = std::move(d); }

  // os::WebViewDelegate
  bool shouldStartLoadWithRequest(os::WebView&, const os::URLRequest& request, os::WebViewNavigationType type) override;
  void webViewDidStartLoad(os::WebView&) override;
  void webViewDidFinishLoad(os::WebView& webView) override;
  void didFailLoadWithError(os::WebView&, const os::Error& error) override;

 private:
  void reportClose();
  int nloadCount_ = 0;
  bool finished_ = false;
  std::shared_ptr<os::WebView> webview_;
  std::shared_ptr<os::ActivityIndicatorView> activityIndicatorView_;
  std::string webTitle_;
  std::string requestURLStr_;
  std::optional<os::Error> error_;
  std::weak_ptr<TCWebViewControllerDelegate> delegate_;
};

class TCWebNavigationController : public os::NavigationController {
 public:
  using os::NavigationController::NavigationController;
  std::string className() const override { return "TCWebNavigationController"; }
  // The bar's background: the application's "NavigationBar" setting, else the client's own image;
  // a missing file leaves the bar as it is.
  void viewDidLoad() override;
  unsigned supportedInterfaceOrientations() const override { return 30; }
};

class TCWebViewKit : public TCWebViewControllerDelegate, public std::enable_shared_from_this<TCWebViewKit> {
 public:
  TCWebViewKit() = default;
  ~TCWebViewKit() override;

  bool openWithUrl(std::string url, std::string title, std::weak_ptr<TCWebViewKitDelegate> delegate);
  bool open();
  void loadURL(std::string url, std::string title, std::weak_ptr<TCWebViewKitDelegate> delegate);
  // A web screen for the caller to present; no window is made.
  std::shared_ptr<TCWebViewController> getViewControllerWithUrl(std::string url, std::string title,
                                                                std::weak_ptr<TCWebViewKitDelegate> delegate);

  void doClose() { close(true); }
  void doCloseWithNotAnimation() { close(false); }
  void onClickClose();
  void closeWindow();

  // ---- the page's commands ----
  void setNavigationTitle(const std::optional<std::string>& title);
  void setLeftNavigationBarButton(const std::optional<std::string>& title, const std::optional<std::string>& js);
  void setRightNavigationBarButton(const std::optional<std::string>& title, const std::optional<std::string>& js);
  void setNavigationBarHidden(const std::optional<std::string>& hidden, const std::optional<std::string>& animated);
  std::shared_ptr<os::BarButtonItem> createNavigationBarButton(const std::string& title, std::optional<std::string> js);
  // Runs a bridge URL; false when it names no command.
  bool runBridgeCommand(const os::URL& url);

  void MoveOtherWindowOutOfFrame();
  void MoveOhterWindowIntoFrame(bool animated);

  const std::shared_ptr<TCWebViewController>& webViewController() const { return webViewController_; }
  const std::shared_ptr<os::Window>& window() const { return window_; }
  bool isClosing() const { return isClosing_; }
  const std::string& requestUrl() const { return requestUrl_; }
  void setRequestUrl(std::string url) { requestUrl_ = std::move(url); }
  const std::string& webTitle() const { return webTitle_; }
  std::shared_ptr<TCWebViewKitDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<TCWebViewKitDelegate> d) { delegate_ = std::move(d); }

  // TCWebViewControllerDelegate
  void webViewControllerDidCloseWithLastError(TCWebViewController&, const std::optional<os::Error>& error) override;
  void webViewControllerDidFailLoadWithError(TCWebViewController&, const os::Error& error) override;
  bool webViewControllerShouldStartLoadWithRequest(TCWebViewController&, const os::URLRequest& request,
                                                   os::WebViewNavigationType type) override;

 protected:
  std::shared_ptr<TCWebViewController> makeController();

 private:
  void close(bool animated);

  std::shared_ptr<TCWebViewController> webViewController_;
  bool isClosing_ = false;
  std::string requestUrl_;
  std::string webTitle_;
  std::weak_ptr<TCWebViewKitDelegate> delegate_;
  std::shared_ptr<os::Window> window_;
  std::vector<std::shared_ptr<os::Window>> windowsArray_;
  std::weak_ptr<os::Window> keywindow_;
};
