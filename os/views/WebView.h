#pragma once
// A web view without a web engine: it loads pages through URL loading (or takes an HTML
// string), keeps a back/forward history, asks its delegate before every navigation (redirects
// included) and reports start, finish and failure. Scripts are not run: "document.title"
// answers the page's <title>, "window.location.href" its address; every script is recorded.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/URL.h"
#include "os/net/URLRequest.h"
#include "os/views/View.h"

namespace os {

class WebView;
class ScrollView;

inline constexpr const char* kWebViewErrorDomain = "os.web";
enum WebViewErrorCode : long { kWebViewErrorFrameLoadInterrupted = 102, kWebViewErrorCancelled = -999 };

enum class WebViewNavigationType { LinkClicked = 0, FormSubmitted = 1, BackForward = 2, Reload = 3, FormResubmitted = 4, Other = 5 };

class WebViewDelegate {
 public:
  virtual ~WebViewDelegate() = default;
  virtual bool shouldStartLoadWithRequest(WebView& webView, const URLRequest& request, WebViewNavigationType type) { return true; }
  virtual void webViewDidStartLoad(WebView& webView) {}
  virtual void webViewDidFinishLoad(WebView& webView) {}
  virtual void didFailLoadWithError(WebView& webView, const Error& error) {}
};

// How a web view fetches a page; the default one uses URLConnection on the main run loop.
class WebPageLoader {
 public:
  // A navigation the page makes by itself once shown (a script setting the location, a form
  // sent on load, a bridge call through a custom-scheme frame).
  struct Navigation {
    URLRequest request;
    WebViewNavigationType type = WebViewNavigationType::Other;
  };
  struct Page {
    std::string url;  // after redirects
    int statusCode = 200;
    std::string mimeType;
    Data body;
    // In order, each on a later turn of the run loop; the rest are dropped once one is loaded.
    std::vector<Navigation> navigations;
  };
  struct Callbacks {
    // False stops the load at the redirect.
    std::function<bool(const URLRequest& redirect)> willRedirect;
    std::function<void(const Page& page)> finished;
    std::function<void(const Error& error)> failed;
  };
  virtual ~WebPageLoader() = default;
  virtual void start(const URLRequest& request, Callbacks callbacks) = 0;
  // No callback follows a cancel.
  virtual void cancel() = 0;

  using Factory = std::function<std::shared_ptr<WebPageLoader>()>;
  // The loaders new web views use (tests install scripted ones); null restores the default.
  static void setDefaultFactory(Factory factory);
  static std::shared_ptr<WebPageLoader> makeDefault();
};

// Without a web engine a page's forms are shown as native controls in the web view's scroll
// view, one below the other: paragraphs and headings as labels, text and password inputs as text
// fields (their placeholder, or their value, is what they show), submit inputs and buttons as
// buttons. A tap on a form's button sends the form (its hidden inputs and fields, form-encoded, by
// its method to its action, read against the page's address) as a form-submitted navigation;
// so does the return key in one of its fields.
class WebView : public View {
 public:
  WebView();
  explicit WebView(const Rect& frame);
  ~WebView() override;
  std::string className() const override { return "WebView"; }

  std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<WebViewDelegate> d) { delegate_ = std::move(d); }
  void setLoader(std::shared_ptr<WebPageLoader> loader) { loader_ = std::move(loader); }

  void loadRequest(const URLRequest& request);
  void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL = std::nullopt);
  // A tap on a link of the page (drivers and tests): asks the delegate, then loads.
  void clickLink(const URLRequest& request);
  void reload();
  void stopLoading();
  bool canGoBack() const { return index_ > 0; }
  bool canGoForward() const { return index_ + 1 < static_cast<long>(history_.size()); }
  void goBack();
  void goForward();
  bool isLoading() const { return loading_; }
  // The request of the page shown (or being loaded).
  const std::optional<URLRequest>& request() const { return request_; }
  // The document shown ("" before the first page).
  const std::string& documentHTML() const;
  std::string title() const;

  // The controls that show the page's text and forms (above).
  const std::vector<std::shared_ptr<View>>& pageControls() const { return pageControls_; }
  // Sends the page's form number `index` (0 the first) as its button would.
  bool submitForm(std::size_t index);

  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool s) { scalesPageToFit_ = s; }
  const std::shared_ptr<ScrollView>& scrollView() const { return scrollView_; }

  void layoutSubviews() override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  struct Entry {
    URLRequest request;
    std::string html;
    std::string url;
  };
  void navigate(const URLRequest& request, WebViewNavigationType type, bool addToHistory);
  void show(Entry entry, bool addToHistory);
  void runPageNavigations(std::vector<WebPageLoader::Navigation> navigations);
  void fail(const Error& error);
  void showPageControls();

  struct PageForm {
    std::string action, method;
    std::vector<std::pair<std::string, std::string>> hidden;
    std::vector<std::pair<std::string, std::weak_ptr<View>>> fields;  // name -> its text field
  };

  std::weak_ptr<WebViewDelegate> delegate_;
  std::shared_ptr<WebPageLoader> loader_;
  std::shared_ptr<ScrollView> scrollView_;
  std::vector<Entry> history_;
  long index_ = -1;
  std::optional<URLRequest> request_;
  bool loading_ = false;
  bool scalesPageToFit_ = false;
  std::vector<std::string> scripts_;
  std::vector<std::shared_ptr<View>> pageControls_;
  std::vector<PageForm> forms_;
  std::uint64_t generation_ = 0;
};

// The text of the first <title> element of a page, entities decoded; "" without one.
std::string htmlTitle(const std::string& html);

}  // namespace os
