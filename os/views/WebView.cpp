#include "os/views/WebView.h"

#include <algorithm>
#include <cctype>

#include "os/core/String.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLConnection.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "os/views/TextField.h"

namespace os {

// ----- loading through URLConnection -----

namespace {
class ConnectionLoader : public WebPageLoader, public URLConnectionDelegate, public std::enable_shared_from_this<ConnectionLoader> {
 public:
  void start(const URLRequest& request, Callbacks callbacks) override {
    cancel();
    callbacks_ = std::move(callbacks);
    page_ = Page{};
    page_.url = request.url();
    auto self = shared_from_this();
    connection_ = URLConnection::create(request, std::weak_ptr<URLConnectionDelegate>(self), false);
    connection_->scheduleInRunLoop(RunLoop::main());
    connection_->start();
  }
  void cancel() override {
    if (connection_) connection_->cancel();
    connection_.reset();
    callbacks_ = Callbacks{};
  }
  std::optional<URLRequest> willSendRequest(URLConnection&, const URLRequest& request, const HTTPURLResponse&) override {
    if (callbacks_.willRedirect && !callbacks_.willRedirect(request)) {
      auto keep = weak_from_this().lock();
      cancel();
      return std::nullopt;
    }
    return request;
  }
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& response) override {
    page_.url = response.url();
    page_.statusCode = response.statusCode();
    page_.mimeType = response.MIMEType();
    page_.body.clear();
  }
  void didReceiveData(URLConnection&, const Data& data) override { page_.body.insert(page_.body.end(), data.begin(), data.end()); }
  void didFinishLoading(URLConnection&) override {
    auto keep = weak_from_this().lock();
    auto done = std::move(callbacks_.finished);
    connection_.reset();
    callbacks_ = Callbacks{};
    if (done) done(page_);
  }
  void didFailWithError(URLConnection&, const Error& error) override {
    auto keep = weak_from_this().lock();
    auto failed = std::move(callbacks_.failed);
    connection_.reset();
    callbacks_ = Callbacks{};
    if (failed) failed(error);
  }

 private:
  std::shared_ptr<URLConnection> connection_;
  Callbacks callbacks_;
  Page page_;
};

WebPageLoader::Factory& defaultFactory() {
  static WebPageLoader::Factory f;
  return f;
}

std::string decodeEntities(const std::string& s) {
  std::string out = replaceAll(s, "&lt;", "<");
  out = replaceAll(out, "&gt;", ">");
  out = replaceAll(out, "&quot;", "\"");
  out = replaceAll(out, "&#39;", "'");
  out = replaceAll(out, "&nbsp;", " ");
  return replaceAll(out, "&amp;", "&");
}
// One tag of a page: its name (lower case, "/form" for an end tag) and its attributes (names in
// lower case, values without quotes, entities decoded).
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::size_t end = std::string::npos;  // just past its ">"
  std::string attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
      if (k == key) return v;
    return "";
  }
};

std::optional<Tag> tagAt(const std::string& html, std::size_t open) {
  std::size_t close = html.find('>', open);
  if (close == std::string::npos) return std::nullopt;
  Tag tag;
  tag.end = close + 1;
  std::size_t i = open + 1;
  auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (i < close && !isSpace(html[i]) && html[i] != '/') tag.name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
  if (tag.name.empty() && i < close && html[i] == '/') {
    tag.name = "/";
    ++i;
    while (i < close && !isSpace(html[i])) tag.name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
  }
  while (i < close) {
    while (i < close && (isSpace(html[i]) || html[i] == '/')) ++i;
    std::string key;
    while (i < close && !isSpace(html[i]) && html[i] != '=' && html[i] != '/') key += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
    std::string value;
    if (i < close && html[i] == '=') {
      ++i;
      if (i < close && (html[i] == '"' || html[i] == '\'')) {
        char quote = html[i++];
        std::size_t endQuote = html.find(quote, i);
        if (endQuote == std::string::npos) return std::nullopt;
        if (endQuote > close) {
          // A ">" inside quotes: the tag runs on to the ">" after the closing quote.
          close = html.find('>', endQuote);
          if (close == std::string::npos) return std::nullopt;
          tag.end = close + 1;
        }
        value = html.substr(i, endQuote - i);
        i = endQuote + 1;
      } else {
        while (i < close && !isSpace(html[i])) value += html[i++];
      }
    }
    if (!key.empty()) tag.attributes.emplace_back(key, decodeEntities(value));
  }
  return tag;
}

// The text of an element up to its end tag, inner tags left out and white space collapsed.
// The end tag is looked for in place: a page is read in one pass, however many elements it has.
std::size_t findEndTag(std::string_view html, std::size_t from, std::string_view name) {
  for (std::size_t at = html.find("</", from); at != std::string_view::npos; at = html.find("</", at + 2)) {
    if (equalsIgnoringCase(html.substr(at + 2, name.size()), name)) return at;
  }
  return std::string_view::npos;
}

std::string elementText(const std::string& html, std::size_t from, const std::string& name, std::size_t* next) {
  std::size_t end = findEndTag(html, from, name);
  *next = end == std::string::npos ? html.size() : end;
  std::string_view raw = std::string_view(html).substr(from, *next - from);
  std::string text;
  bool inTag = false, space = false;
  for (char c : raw) {
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    else if (inTag) continue;
    else if (std::isspace(static_cast<unsigned char>(c))) space = true;
    else {
      if (space && !text.empty()) text += ' ';
      space = false;
      text += c;
    }
  }
  return decodeEntities(text);
}
}  // namespace

void WebPageLoader::setDefaultFactory(Factory factory) { defaultFactory() = std::move(factory); }

std::shared_ptr<WebPageLoader> WebPageLoader::makeDefault() {
  if (defaultFactory()) return defaultFactory()();
  return std::make_shared<ConnectionLoader>();
}

std::string htmlTitle(const std::string& html) {
  std::string lower = lowercaseASCII(html);
  std::size_t open = lower.find("<title");
  while (open != std::string::npos && open + 6 < lower.size() && lower[open + 6] != '>' &&
         !std::isspace(static_cast<unsigned char>(lower[open + 6]))) {
    open = lower.find("<title", open + 6);
  }
  if (open == std::string::npos) return "";
  std::size_t start = lower.find('>', open);
  if (start == std::string::npos) return "";
  std::size_t end = lower.find("</title", start);
  if (end == std::string::npos) return "";
  std::string raw = html.substr(start + 1, end - start - 1);
  // Runs of white space read as one space, as the page would show them.
  std::string collapsed;
  bool space = false;
  for (char c : raw) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = true;
      continue;
    }
    if (space && !collapsed.empty()) collapsed += ' ';
    space = false;
    collapsed += c;
  }
  return decodeEntities(collapsed);
}

// ----- web view -----

WebView::WebView() {
  scrollView_ = std::make_shared<ScrollView>();
  scrollView_->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  addSubview(scrollView_);
  setBackgroundColor(Color::white());
}

WebView::WebView(const Rect& frame) : WebView() { setFrame(frame); }

WebView::~WebView() {
  if (loader_) loader_->cancel();
}

void WebView::layoutSubviews() { scrollView_->setFrame(bounds()); }

const std::string& WebView::documentHTML() const {
  static const std::string empty;
  if (index_ < 0 || index_ >= static_cast<long>(history_.size())) return empty;
  return history_[static_cast<std::size_t>(index_)].html;
}

std::string WebView::title() const { return htmlTitle(documentHTML()); }

void WebView::loadRequest(const URLRequest& request) { navigate(request, WebViewNavigationType::Other, true); }

void WebView::clickLink(const URLRequest& request) { navigate(request, WebViewNavigationType::LinkClicked, true); }

void WebView::navigate(const URLRequest& request, WebViewNavigationType type, bool addToHistory) {
  auto self = std::static_pointer_cast<WebView>(shared_from_this());
  if (auto d = delegate(); d && !d->shouldStartLoadWithRequest(*this, request, type)) return;
  stopLoading();
  request_ = request;
  loading_ = true;
  std::uint64_t generation = ++generation_;
  if (auto d = delegate()) d->webViewDidStartLoad(*this);
  if (!loader_) loader_ = WebPageLoader::makeDefault();
  std::weak_ptr<WebView> weak = self;
  WebPageLoader::Callbacks callbacks;
  callbacks.willRedirect = [weak, generation](const URLRequest& redirect) {
    auto view = weak.lock();
    if (!view || view->generation_ != generation) return false;
    auto d = view->delegate();
    if (d && !d->shouldStartLoadWithRequest(*view, redirect, WebViewNavigationType::Other)) {
      // Refused at a redirect: the platform reports the interrupted frame load.
      view->loading_ = false;
      ++view->generation_;
      RunLoop::main()->post([weak] {
        if (auto v = weak.lock()) {
          v->fail(Error::withDescription(kWebViewErrorDomain, kWebViewErrorFrameLoadInterrupted, "Frame load interrupted"));
        }
      });
      return false;
    }
    view->request_ = redirect;
    return true;
  };
  callbacks.finished = [weak, generation, request, addToHistory](const WebPageLoader::Page& page) {
    auto view = weak.lock();
    if (!view || view->generation_ != generation) return;
    Entry entry{request, repairUTF8(std::string(page.body.begin(), page.body.end())), page.url};
    view->show(std::move(entry), addToHistory);
    view->runPageNavigations(page.navigations);
  };
  callbacks.failed = [weak, generation](const Error& error) {
    auto view = weak.lock();
    if (!view || view->generation_ != generation) return;
    view->fail(error);
  };
  loader_->start(request, std::move(callbacks));
}

void WebView::show(Entry entry, bool addToHistory) {
  auto keep = weak_from_this().lock();
  if (addToHistory) {
    if (index_ + 1 < static_cast<long>(history_.size())) history_.erase(history_.begin() + index_ + 1, history_.end());
    history_.push_back(std::move(entry));
    index_ = static_cast<long>(history_.size()) - 1;
  } else if (index_ >= 0 && index_ < static_cast<long>(history_.size())) {
    history_[static_cast<std::size_t>(index_)] = std::move(entry);
  }
  loading_ = false;
  showPageControls();
  setNeedsDisplay();
  if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

void WebView::showPageControls() {
  for (auto& control : pageControls_) control->removeFromSuperview();
  pageControls_.clear();
  forms_.clear();
  const std::string& html = documentHTML();
  constexpr double kMargin = 20, kHeight = 36, kGap = 10;
  const double width = std::max(0.0, bounds().size.width - 2 * kMargin);
  double y = kMargin;
  auto place = [&](const std::shared_ptr<View>& control) {
    control->setFrame(Rect{{kMargin, y}, {width, kHeight}});
    control->setAutoresizingMask(kViewAutoresizingFlexibleWidth);
    scrollView_->addSubview(control);
    pageControls_.push_back(control);
    y += kHeight + kGap;
  };
  std::weak_ptr<WebView> weak = std::static_pointer_cast<WebView>(shared_from_this());
  auto submitButton = [&](const std::string& title) {
    auto button = std::make_shared<Button>();
    button->setTitle(title, kControlStateNormal);
    const std::size_t index = forms_.empty() ? 0 : forms_.size() - 1;
    button->addTarget(this, [weak, index](Control&) {
      if (auto view = weak.lock()) view->submitForm(index);
    }, kControlEventTouchUpInside);
    place(button);
  };
  bool inForm = false;
  for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at)) {
    auto tag = tagAt(html, at);
    if (!tag) break;
    at = tag->end;
    if (tag->name == "form") {
      inForm = true;
      std::string method = uppercaseASCII(tag->attribute("method"));
      forms_.push_back(PageForm{tag->attribute("action"), method == "POST" ? "POST" : "GET", {}, {}});
    } else if (tag->name == "/form") {
      inForm = false;
    } else if (tag->name == "p" || tag->name == "h1" || tag->name == "h2") {
      std::size_t next = at;
      std::string text = elementText(html, at, tag->name, &next);
      at = next;
      if (text.empty()) continue;
      auto label = std::make_shared<Label>();
      label->setText(text);
      place(label);
    } else if (tag->name == "input" && inForm) {
      std::string type = lowercaseASCII(tag->attribute("type"));
      if (type == "hidden") {
        forms_.back().hidden.emplace_back(tag->attribute("name"), tag->attribute("value"));
      } else if (type == "submit") {
        std::string value = tag->attribute("value");
        submitButton(value.empty() ? "Submit" : value);
      } else if (type.empty() || type == "text" || type == "password" || type == "email") {
        auto field = std::make_shared<TextField>();
        field->setPlaceholder(tag->attribute("placeholder"));
        field->setText(tag->attribute("value"));
        field->setSecureTextEntry(type == "password");
        // The return key in a form's field sends the form, as a browser does.
        const std::size_t index = forms_.size() - 1;
        field->addTarget(this, [weak, index](Control&) {
          if (auto view = weak.lock()) view->submitForm(index);
        }, kControlEventEditingDidEndOnExit);
        forms_.back().fields.emplace_back(tag->attribute("name"), field);
        place(field);
      }
    } else if (tag->name == "button" && inForm) {
      std::size_t next = at;
      std::string title = elementText(html, at, "button", &next);
      at = next;
      std::string type = lowercaseASCII(tag->attribute("type"));
      if (type.empty() || type == "submit") submitButton(title.empty() ? "Submit" : title);
    }
  }
  scrollView_->setContentSize(Size{bounds().size.width, y});
}

bool WebView::submitForm(std::size_t index) {
  if (index >= forms_.size() || index_ < 0) return false;
  const PageForm& form = forms_[index];
  std::vector<std::string> pairs;
  auto add = [&](const std::string& name, const std::string& value) {
    if (!name.empty()) pairs.push_back(formURLEncode(name) + "=" + formURLEncode(value));
  };
  for (const auto& [name, value] : form.hidden) add(name, value);
  for (const auto& [name, weakField] : form.fields)
    if (auto field = std::dynamic_pointer_cast<TextField>(weakField.lock())) add(name, field->text());
  const std::string body = join(pairs, "&");
  auto base = URL::parse(history_[static_cast<std::size_t>(index_)].url);
  auto target = base ? URL::parse(form.action, *base) : URL::parse(form.action);
  if (!target) return false;
  URLRequest request(target->absoluteString());
  if (form.method == "POST") {
    request.setHTTPMethod("POST");
    request.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
    request.setHTTPBody(dataFromString(body));
  } else {
    std::string url = target->absoluteString();
    url = url.substr(0, url.find_first_of("?#"));
    request.setURL(body.empty() ? url : url + "?" + body);
  }
  navigate(request, WebViewNavigationType::FormSubmitted, true);
  return true;
}

void WebView::runPageNavigations(std::vector<WebPageLoader::Navigation> navigations) {
  if (navigations.empty()) return;
  std::weak_ptr<WebView> weak = std::static_pointer_cast<WebView>(shared_from_this());
  std::uint64_t generation = generation_;
  auto queue = std::make_shared<std::vector<WebPageLoader::Navigation>>(std::move(navigations));
  auto step = std::make_shared<std::function<void(std::size_t)>>();
  *step = [weak, generation, queue, weakStep = std::weak_ptr<std::function<void(std::size_t)>>(step)](std::size_t i) {
    auto view = weak.lock();
    // Another page (or a load begun by anyone) ends what this page would still have done.
    if (!view || view->generation_ != generation || view->loading_ || i >= queue->size()) return;
    const auto& next = (*queue)[i];
    view->navigate(next.request, next.type, true);
    if (auto again = weakStep.lock(); again && view->generation_ == generation) {
      RunLoop::main()->post([again, i] { (*again)(i + 1); });
    }
  };
  RunLoop::main()->post([step] { (*step)(0); });
}

void WebView::fail(const Error& error) {
  auto keep = weak_from_this().lock();
  loading_ = false;
  if (auto d = delegate()) d->didFailLoadWithError(*this, error);
}

void WebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
  auto self = shared_from_this();
  stopLoading();
  URLRequest request(baseURL ? baseURL->absoluteString() : std::string("about:blank"));
  request_ = request;
  loading_ = true;
  ++generation_;
  if (auto d = delegate()) d->webViewDidStartLoad(*this);
  std::uint64_t generation = generation_;
  std::weak_ptr<Responder> weak = self;
  // Like a network page, the string's page finishes on a later turn of the run loop.
  RunLoop::main()->post([weak, generation, request, html, this] {
    if (!weak.lock() || generation_ != generation) return;
    show(Entry{request, html, request.url()}, true);
  });
}

void WebView::stopLoading() {
  if (!loading_) return;
  loading_ = false;
  ++generation_;
  if (loader_) loader_->cancel();
}

void WebView::reload() {
  if (index_ < 0) return;
  Entry current = history_[static_cast<std::size_t>(index_)];
  if (current.request.url() == "about:blank" || current.request.url().empty()) {
    show(current, false);
    return;
  }
  navigate(current.request, WebViewNavigationType::Reload, false);
}

void WebView::goBack() {
  if (!canGoBack()) return;
  --index_;
  request_ = history_[static_cast<std::size_t>(index_)].request;
  if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

void WebView::goForward() {
  if (!canGoForward()) return;
  ++index_;
  request_ = history_[static_cast<std::size_t>(index_)].request;
  if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

std::string WebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  scripts_.push_back(script);
  std::string s = trimWhitespace(script);
  if (!s.empty() && s.back() == ';') s.pop_back();
  if (s == "document.title") return title();
  if (s == "window.location.href" || s == "document.location.href" || s == "location.href") {
    if (index_ >= 0) return history_[static_cast<std::size_t>(index_)].url;
    return request_ ? request_->url() : "";
  }
  if (s == "document.documentElement.outerHTML" || s == "document.body.outerHTML") return documentHTML();
  return "";
}

void WebView::describeForDump(std::vector<std::string>& parts) const {
  if (request_) parts.push_back("url=" + dumpQuoted(request_->url()));
  std::string t = title();
  if (!t.empty()) parts.push_back("title=" + dumpQuoted(t));
  if (loading_) parts.push_back("loading");
}

}  // namespace os
