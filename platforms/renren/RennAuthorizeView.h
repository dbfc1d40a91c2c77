#pragma once
// The Renren web login dialog: a web view showing the OAuth authorize (or registration) page in a
// dark translucent box that pops in over the key window and follows rotation. It watches where
// the web view is about to go; when the OAuth server sends it to the success page, the dialog
// reads the token or the error out of that address, closes and tells the login delegate.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "os/graphics/Geometry.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/View.h"
#include "os/views/WebView.h"
#include "platforms/renren/RennLoginDelegate.h"

namespace os {
class ActivityIndicatorView;
class Button;
class GraphicsContext;
}  // namespace os

class RennAuthorizeView : public os::View, public os::WebViewDelegate {
 public:
  static std::shared_ptr<RennAuthorizeView> initWithAuthParams(os::Dictionary params,
                                                               std::weak_ptr<RennLoginDelegate> delegate,
                                                               std::string webAuthUrl);
  RennAuthorizeView();
  ~RennAuthorizeView() override;
  std::string className() const override { return "RennAuthorizeView"; }

  std::shared_ptr<RennLoginDelegate> _delegate() const { return delegate_.lock(); }
  void set_delegate(std::weak_ptr<RennLoginDelegate> d) { delegate_ = std::move(d); }
  const std::shared_ptr<os::WebView>& webView() const { return webView_; }
  const std::shared_ptr<os::Button>& closeButton() const { return closeButton_; }
  const std::shared_ptr<os::ActivityIndicatorView>& indicatorView() const { return indicatorView_; }

  void drawRect(const os::Rect& rect) override;
  bool shouldRotateToOrientation(int orientation) const;
  os::AffineTransform transformForOrientation() const;
  void sizeToFitOrientation(bool transform);
  void updateWebOrientation();
  void deviceOrientationDidChange();
  void load();
  void show();
  void hide();
  // The close button: hides, then rennLoginCancelded, unless the login has already ended.
  void cancel();

  bool shouldStartLoadWithRequest(os::WebView& webView, const os::URLRequest& request,
                                  os::WebViewNavigationType type) override;
  void webViewDidFinishLoad(os::WebView& webView) override;
  void didFailLoadWithError(os::WebView& webView, const os::Error& error) override;

 private:
  void drawRectFill(os::GraphicsContext& context, const os::Rect& rect, const os::Color& fill);
  void strokeLines(os::GraphicsContext& context, const os::Rect& rect, const os::Color& stroke);
  void showWebView();
  void showIndicator();
  void hideIndicator();
  void addObservers();
  void removeObservers();
  void bounce(int step);
  std::shared_ptr<RennAuthorizeView> self() { return std::static_pointer_cast<RennAuthorizeView>(shared_from_this()); }

  std::shared_ptr<os::WebView> webView_;
  std::shared_ptr<os::Button> closeButton_;
  std::shared_ptr<os::View> modalBackgroundView_;
  std::shared_ptr<os::ActivityIndicatorView> indicatorView_;
  int previousOrientation_ = 0;
  std::weak_ptr<RennLoginDelegate> delegate_;
  std::optional<std::string> appRedirectURI_;
  os::Dictionary authParams_;
  std::string rennWebAuthURL_;
  os::NotificationCenter::ObserverToken orientationObserver_ = 0;
  // The dialog stays on screen until the next turn of the run loop after it hides: a second tap
  // on close or another redirect meanwhile must not end the login again.
  bool ended_ = false;
};
