#include "news/ads/VXAdWebViewController.h"

#include "news/ads/VXAdHelper.h"
#include "news/api/NQProxy.h"
#include "news/api/VXGlobalHelper.h"
#include "os/core/Log.h"

std::shared_ptr<VXAdWebViewController> VXAdWebViewController::initWithUrl(const std::string& url,
                                                                         const std::string& callback,
                                                                         const std::string& agent) {
  auto controller = std::make_shared<VXAdWebViewController>();
  controller->webUrl_ = url;
  controller->callbackUrl_ = callback;
  controller->userAgent_ = agent;
  return controller;
}

void VXAdWebViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  callbackRequest();
  openWebView();
}

void VXAdWebViewController::callbackRequest() {
  auto request = VXAdHelper::callbackRequest(callbackUrl_, userAgent_);
  if (!request) return;
  NQProxy::loadCommonRequest(*request, nullptr, nullptr);
}

void VXAdWebViewController::openWebView() {
  auto root = view();
  if (!webView_) {
    const os::Size size = root->bounds().size;
    webView_ = std::make_shared<os::WebView>(os::Rect{0, 0, size.width, size.height});
    // The navigation resizes the screen after it loads; the page must follow, or its bottom is
    // cut off under the bar.
    webView_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
    auto self = std::static_pointer_cast<VXAdWebViewController>(
        std::static_pointer_cast<os::ViewController>(weak_from_this().lock()));
    if (self) webView_->setDelegate(std::shared_ptr<os::WebViewDelegate>(self, static_cast<os::WebViewDelegate*>(this)));
    root->addSubview(webView_);
  }
  // The address is the server's: a local file or a script must never load in here.
  if (!VXAdHelper::isOpenableURL(webUrl_)) {
    VXGlobalHelper::writeLog("ad page refused: " + webUrl_);
    return;
  }
  webView_->loadRequest(os::URLRequest(webUrl_));
}

void VXAdWebViewController::webViewDidFinishLoad(os::WebView&) { os::log("load web finish"); }

void VXAdWebViewController::didFailLoadWithError(os::WebView&, const os::Error&) { os::log("load web failed"); }
