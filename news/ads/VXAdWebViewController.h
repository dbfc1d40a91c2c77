#pragma once
// The web page of an ad, pushed after its click was reported: fires the advertiser's callback
// address once as it opens, then shows the page. Load outcomes are only logged.
#include <memory>
#include <string>

#include "news/shell/NQBaseViewController.h"
#include "os/views/WebView.h"

class VXAdWebViewController : public NQBaseViewController, public os::WebViewDelegate {
 public:
  // The page address, the callback address and the user agent to fire it with (either may be "").
  static std::shared_ptr<VXAdWebViewController> initWithUrl(const std::string& url, const std::string& callback,
                                                            const std::string& agent);
  std::string className() const override { return "VXAdWebViewController"; }

  const std::string& webUrl() const { return webUrl_; }
  const std::string& callbackUrl() const { return callbackUrl_; }
  const std::string& userAgent() const { return userAgent_; }
  // Null until the page is first opened.
  const std::shared_ptr<os::WebView>& webView() const { return webView_; }

  void viewDidLoad() override;
  void callbackRequest();
  void openWebView();

  void webViewDidFinishLoad(os::WebView& webView) override;
  void didFailLoadWithError(os::WebView& webView, const os::Error& error) override;

 private:
  std::string webUrl_, callbackUrl_, userAgent_;
  std::shared_ptr<os::WebView> webView_;
};
