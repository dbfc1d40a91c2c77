#include "os/testing/ScriptedWebPages.h"

#include "os/core/URL.h"
#include "os/net/URLError.h"
#include "os/runtime/RunLoop.h"

namespace os::testing {

namespace {
constexpr int kMaximumRedirects = 16;

std::string withoutQuery(const std::string& url) { return url.substr(0, url.find_first_of("?#")); }
}  // namespace

ScriptedPage ScriptedPage::page(std::string html, std::vector<WebPageLoader::Navigation> navigations) {
  ScriptedPage p;
  p.html = std::move(html);
  p.navigations = std::move(navigations);
  return p;
}

ScriptedPage ScriptedPage::redirect(std::string location, int status) {
  ScriptedPage p;
  p.status = status;
  p.location = std::move(location);
  return p;
}

ScriptedPage ScriptedPage::failure(Error error) {
  ScriptedPage p;
  p.error = std::move(error);
  return p;
}

WebPageLoader::Navigation ScriptedPage::go(const std::string& url) { return {URLRequest(url), WebViewNavigationType::Other}; }

WebPageLoader::Navigation ScriptedPage::submit(const std::string& url, const std::string& formBody) {
  URLRequest request(url);
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  request.setHTTPBody(dataFromString(formBody));
  return {request, WebViewNavigationType::FormSubmitted};
}

// Answers on later turns of the main run loop, one hop per turn, as a network load would.
class ScriptedWebPages::Loader : public WebPageLoader, public std::enable_shared_from_this<Loader> {
 public:
  explicit Loader(std::weak_ptr<ScriptedWebPages> pages) : pages_(std::move(pages)) {}

  void start(const URLRequest& request, Callbacks callbacks) override {
    cancel();
    callbacks_ = std::move(callbacks);
    hop(request, ++generation_, 0);
  }
  void cancel() override {
    ++generation_;
    callbacks_ = Callbacks{};
  }

 private:
  void hop(URLRequest request, std::uint64_t generation, int redirects) {
    std::weak_ptr<Loader> weak = weak_from_this();
    RunLoop::main()->post([weak, request = std::move(request), generation, redirects]() mutable {
      auto self = weak.lock();
      if (!self || self->generation_ != generation) return;
      self->step(std::move(request), generation, redirects);
    });
  }

  void step(URLRequest request, std::uint64_t generation, int redirects) {
    auto parsed = URL::parse(request.url());
    std::string scheme = parsed ? parsed->scheme() : "";
    if (scheme != "http" && scheme != "https") {
      finishWithError(makeURLError(kURLErrorUnsupportedURL, request.url(), "unsupported URL"));
      return;
    }
    auto pages = pages_.lock();
    std::optional<ScriptedPage> page = pages ? pages->answer(request) : std::nullopt;
    if (!page) {
      finishWithError(makeURLError(kURLErrorCannotFindHost, request.url(), "A server with the specified hostname could not be found."));
      return;
    }
    if (page->error) {
      finishWithError(*page->error);
      return;
    }
    if (!page->location.empty()) {
      auto base = URL::parse(request.url());
      auto target = base ? URL::parse(page->location, *base) : URL::parse(page->location);
      if (!target) {
        finishWithError(makeURLError(kURLErrorBadServerResponse, request.url(), "bad redirect location"));
        return;
      }
      if (redirects + 1 > kMaximumRedirects) {
        finishWithError(makeURLError(kURLErrorHTTPTooManyRedirects, request.url(), "too many HTTP redirects"));
        return;
      }
      URLRequest next = request;
      next.setURL(target->absoluteString());
      if (page->status == 303 || request.HTTPMethod() == "POST") {
        next.setHTTPMethod("GET");
        next.setHTTPBody({});
        next.setValueForHTTPHeaderField(std::nullopt, "Content-Type");
      }
      auto keep = shared_from_this();
      if (callbacks_.willRedirect && !callbacks_.willRedirect(next)) {
        if (generation_ == generation) cancel();
        return;
      }
      if (generation_ == generation) hop(std::move(next), generation, redirects + 1);
      return;
    }
    Page result;
    result.url = request.url();
    result.statusCode = page->status;
    result.mimeType = page->mimeType;
    result.body = dataFromString(page->html);
    result.navigations = std::move(page->navigations);
    auto done = std::move(callbacks_.finished);
    callbacks_ = Callbacks{};
    if (done) done(result);
  }

  void finishWithError(const Error& error) {
    auto failed = std::move(callbacks_.failed);
    callbacks_ = Callbacks{};
    if (failed) failed(error);
  }

  std::weak_ptr<ScriptedWebPages> pages_;
  Callbacks callbacks_;
  std::uint64_t generation_ = 0;
};

std::shared_ptr<ScriptedWebPages> ScriptedWebPages::install() {
  auto pages = std::make_shared<ScriptedWebPages>(PrivateTag{});
  std::weak_ptr<ScriptedWebPages> weak = pages;
  WebPageLoader::setDefaultFactory([weak]() -> std::shared_ptr<WebPageLoader> { return std::make_shared<Loader>(weak); });
  return pages;
}

ScriptedWebPages::~ScriptedWebPages() { WebPageLoader::setDefaultFactory(nullptr); }

void ScriptedWebPages::route(const std::string& url, ScriptedPage page) {
  route(url, [page](const URLRequest&) { return page; });
}

void ScriptedWebPages::route(const std::string& url, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.emplace_back(url, std::move(handler));
}

std::vector<URLRequest> ScriptedWebPages::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::shared_ptr<WebPageLoader> ScriptedWebPages::makeLoader() { return std::make_shared<Loader>(weak_from_this()); }

std::optional<ScriptedPage> ScriptedWebPages::answer(const URLRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    const std::string& url = request.url();
    // The latest route for an address wins, so a test can replace a page.
    for (auto it = routes_.rbegin(); it != routes_.rend() && !handler; ++it)
      if (it->first == url) handler = it->second;
    for (auto it = routes_.rbegin(); it != routes_.rend() && !handler; ++it)
      if (it->first == withoutQuery(url)) handler = it->second;
  }
  if (!handler) return std::nullopt;
  return handler(request);
}

}  // namespace os::testing
