#include "os/net/URLConnection.h"

#include <condition_variable>
#include <deque>

#include "os/net/HTTPCookieStorage.h"
#include "os/net/URLParts.h"
#include "os/runtime/RunLoop.h"

namespace os {

namespace {
constexpr int kMaximumRedirects = 16;

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }
}  // namespace

bool URLConnectionDelegate::canAuthenticateAgainstProtectionSpace(URLConnection&, const URLProtectionSpace& space) {
  return space.authenticationMethod != kAuthenticationMethodServerTrust &&
         space.authenticationMethod != kAuthenticationMethodClientCertificate;
}

std::shared_ptr<InputStream> URLConnectionDelegate::needNewBodyStream(URLConnection&, const URLRequest& request) {
  return request.HTTPBodyStream() ? request.HTTPBodyStream()->copyStream() : nullptr;
}

// Carries transport events (on the transport's thread) to the scheduling thread, tagged with the
// exchange they belong to so that events of an abandoned exchange are dropped.
class URLConnection::Client : public URLTransportClient {
 public:
  Client(std::weak_ptr<URLConnection> connection, std::uint64_t generation)
      : connection_(std::move(connection)), generation_(generation) {}

  void transportDidSendBodyData(std::int64_t written, std::int64_t total, std::int64_t expected) override {
    deliver([=, g = generation_](URLConnection& c) { c.handleBodySent(g, written, total, expected); });
  }
  void transportDidReceiveResponse(const HTTPURLResponse& response) override {
    deliver([response, g = generation_](URLConnection& c) { c.handleResponse(g, response); });
  }
  void transportDidReceiveData(Data data) override {
    deliver([data = std::move(data), g = generation_](URLConnection& c) { c.handleData(g, data); });
  }
  void transportDidFinish() override {
    deliver([g = generation_](URLConnection& c) { c.handleFinish(g); });
  }
  void transportDidFail(const Error& error) override {
    deliver([error, g = generation_](URLConnection& c) { c.handleFail(g, error); });
  }

 private:
  template <class F>
  void deliver(F f) {
    auto connection = connection_.lock();
    if (!connection) return;
    std::weak_ptr<URLConnection> weak = connection;
    connection->post([weak, f = std::move(f)] {
      if (auto c = weak.lock()) f(*c);
    });
  }
  std::weak_ptr<URLConnection> connection_;
  std::uint64_t generation_;
};

URLConnection::URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate)
    : original_(request), current_(std::move(request)), delegate_(std::move(delegate)) {}

URLConnection::~URLConnection() {
  std::unique_ptr<URLTransportTask> task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task = std::move(task_);
  }
}

std::shared_ptr<URLConnection> URLConnection::create(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate,
                                                     bool startImmediately) {
  auto connection = std::make_shared<URLConnection>(std::move(request), std::move(delegate));
  if (startImmediately) {
    connection->scheduleInRunLoop(RunLoop::current());
    connection->start();
  }
  return connection;
}

void URLConnection::scheduleInRunLoop(const std::shared_ptr<RunLoop>& loop) {
  std::weak_ptr<RunLoop> weak = loop;
  setCallbackTarget([weak](Task task) {
    if (auto l = weak.lock()) l->post(std::move(task));
  });
}

void URLConnection::setCallbackTarget(CallbackTarget target) {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = std::move(target);
}

void URLConnection::post(Task task) {
  CallbackTarget target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || ended_) return;
    target = target_;
  }
  if (target) target(std::move(task));
}

void URLConnection::start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || cancelled_) return;
    started_ = true;
    keepAlive_ = shared_from_this();
  }
  bool hasTarget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hasTarget = static_cast<bool>(target_);
  }
  if (!hasTarget) scheduleInRunLoop(RunLoop::current());
  std::weak_ptr<URLConnection> weak = weak_from_this();
  post([weak] {
    if (auto c = weak.lock()) c->beginLoad();
  });
}

void URLConnection::cancel() {
  std::unique_ptr<URLTransportTask> task;
  std::shared_ptr<URLConnection> self;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || ended_) return;
    cancelled_ = true;
    task = std::move(task_);
    self = std::move(keepAlive_);
  }
  if (task) task->cancel();
  // `self` and `task` go here, possibly destroying this connection after we are done with it.
}

bool URLConnection::live(std::uint64_t generation) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !cancelled_ && !ended_ && generation == generation_;
}

void URLConnection::end() {
  // Callers hold a reference of their own (every callback runs through one), so dropping the
  // self-reference here never destroys the connection under our feet.
  std::unique_ptr<URLTransportTask> task;
  std::shared_ptr<URLConnection> self;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    task = std::move(task_);
    self = std::move(keepAlive_);
  }
}

void URLConnection::failWith(const Error& error) {
  end();
  if (auto d = delegate()) d->didFailWithError(*this, error);
}

void URLConnection::beginLoad() {
  if (!live(generation_)) return;
  auto parts = net::parseURL(current_.url());
  if (!parts || parts->host.empty()) {
    return failWith(makeURLError(current_.hasURL() ? kURLErrorBadURL : kURLErrorUnsupportedURL, current_.url(),
                                 "The URL could not be read."));
  }
  if (parts->scheme != "http" && parts->scheme != "https")
    return failWith(makeURLError(kURLErrorUnsupportedURL, current_.url(), "unsupported URL"));

  if (parts->scheme == "https") {
    URLProtectionSpace space{parts->host, parts->port, parts->scheme, "", kAuthenticationMethodServerTrust};
    auto d = delegate();
    if (d && d->canAuthenticateAgainstProtectionSpace(*this, space)) {
      URLAuthenticationChallenge challenge(space, 0);
      d->didReceiveAuthenticationChallenge(*this, challenge);
      if (!live(generation_)) return;
      if (challenge.answer() == URLAuthenticationChallenge::Answer::Cancel)
        return failWith(makeURLError(kURLErrorUserCancelledAuthentication, current_.url(), "cancelled"));
      if (challenge.answer() == URLAuthenticationChallenge::Answer::UseCredential && challenge.credential() &&
          challenge.credential()->serverTrust)
        allowsAnyCertificate_ = true;
    }
  }
  if (auto d = delegate()) {
    d->connectionShouldUseCredentialStorage(*this);
    if (!live(generation_)) return;
  }
  sendExchange();
}

void URLConnection::sendExchange() {
  URLRequest wire = current_;
  if (wire.HTTPShouldHandleCookies() && !wire.valueForHTTPHeaderField("Cookie")) {
    if (auto cookies = HTTPCookieStorage::shared().cookieHeaderForURL(wire.url()))
      wire.setValueForHTTPHeaderField(*cookies, "Cookie");
  }
  URLTransportOptions options;
  options.allowsAnyCertificate = allowsAnyCertificate_;
  std::uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = ++generation_;
  }
  finalResponse_ = false;
  response_.reset();
  cacheData_.clear();
  auto client = std::make_shared<Client>(weak_from_this(), generation);
  auto task = URLTransport::shared()->start(wire, options, client);
  std::unique_ptr<URLTransportTask> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || ended_) {
      old = std::move(task);
    } else {
      old = std::move(task_);
      task_ = std::move(task);
    }
  }
}

void URLConnection::handleBodySent(std::uint64_t g, std::int64_t written, std::int64_t total, std::int64_t expected) {
  if (!live(g)) return;
  if (auto d = delegate()) d->didSendBodyData(*this, written, total, expected);
}

bool URLConnection::followRedirect(const HTTPURLResponse& response) {
  auto location = response.valueForHTTPHeaderField("Location");
  if (!location) return false;
  auto target = net::resolveURL(current_.url(), *location);
  if (!target) return false;
  if (++redirects_ > kMaximumRedirects) {
    failWith(makeURLError(kURLErrorHTTPTooManyRedirects, current_.url(), "too many HTTP redirects"));
    return true;
  }
  URLRequest proposed = current_;
  proposed.setURL(*target);
  int status = response.statusCode();
  if (status == 303 || ((status == 301 || status == 302) && current_.HTTPMethod() == "POST")) {
    if (proposed.HTTPMethod() != "HEAD") proposed.setHTTPMethod("GET");
    proposed.setHTTPBody({});
    proposed.setValueForHTTPHeaderField(std::nullopt, "Content-Type");
    proposed.setValueForHTTPHeaderField(std::nullopt, "Content-Length");
  }
  auto d = delegate();
  std::uint64_t g = generation_;
  if (proposed.HTTPBodyStream()) {
    std::shared_ptr<InputStream> fresh =
        d ? d->needNewBodyStream(*this, proposed) : proposed.HTTPBodyStream()->copyStream();
    if (!live(g)) return true;
    if (!fresh) {
      failWith(makeURLError(kURLErrorRequestBodyStreamExhausted, current_.url(), "The body stream cannot be sent again."));
      return true;
    }
    proposed.setHTTPBodyStream(std::move(fresh));
  }
  std::optional<URLRequest> next = d ? d->willSendRequest(*this, proposed, response) : std::optional<URLRequest>(proposed);
  if (!live(g)) return true;
  if (!next) return false;
  current_ = std::move(*next);
  sendExchange();
  return true;
}

void URLConnection::handleResponse(std::uint64_t g, const HTTPURLResponse& response) {
  if (!live(g)) return;
  if (current_.HTTPShouldHandleCookies()) {
    if (auto setCookie = response.valueForHTTPHeaderField("Set-Cookie"))
      HTTPCookieStorage::shared().setCookiesFromHeader(*setCookie, response.url());
  }
  if (isRedirect(response.statusCode()) && followRedirect(response)) return;
  if (!live(g)) return;
  finalResponse_ = true;
  response_ = response;
  if (auto d = delegate()) d->didReceiveResponse(*this, response);
}

void URLConnection::handleData(std::uint64_t g, const Data& data) {
  if (!live(g) || !finalResponse_) return;
  cacheData_.insert(cacheData_.end(), data.begin(), data.end());
  if (auto d = delegate()) d->didReceiveData(*this, data);
}

void URLConnection::handleFinish(std::uint64_t g) {
  if (!live(g)) return;
  auto d = delegate();
  if (d && response_ && current_.HTTPMethod() == "GET" && response_->statusCode() == 200) {
    d->willCacheResponse(*this, CachedURLResponse{*response_, cacheData_});
    if (!live(g)) return;
  }
  cacheData_.clear();
  end();
  if (d) d->didFinishLoading(*this);
}

void URLConnection::handleFail(std::uint64_t g, const Error& error) {
  if (!live(g)) return;
  failWith(error);
}

namespace {

class SynchronousDelegate : public URLConnectionDelegate {
 public:
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& r) override { response = r; data.clear(); }
  void didReceiveData(URLConnection&, const Data& d) override { data.insert(data.end(), d.begin(), d.end()); }
  void didFinishLoading(URLConnection&) override { done = true; }
  void didFailWithError(URLConnection&, const Error& e) override { error = e; done = true; }

  std::optional<HTTPURLResponse> response;
  Data data;
  std::optional<Error> error;
  bool done = false;
};

struct TaskQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::function<void()>> tasks;
};

}  // namespace

std::optional<Data> URLConnection::sendSynchronousRequest(const URLRequest& request, HTTPURLResponse* response,
                                                          Error* error) {
  auto queue = std::make_shared<TaskQueue>();
  auto delegate = std::make_shared<SynchronousDelegate>();
  auto connection = create(request, delegate, false);
  connection->setCallbackTarget([queue](Task task) {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->tasks.push_back(std::move(task));
    queue->ready.notify_one();
  });
  connection->start();
  while (!delegate->done) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(queue->mutex);
      queue->ready.wait(lock, [&] { return !queue->tasks.empty(); });
      task = std::move(queue->tasks.front());
      queue->tasks.pop_front();
    }
    task();
  }
  // Drain what the connection left behind (its last reference) before the queue goes.
  std::deque<std::function<void()>> rest;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    rest.swap(queue->tasks);
  }
  rest.clear();
  if (response && delegate->response) *response = *delegate->response;
  if (delegate->error) {
    if (error) *error = *delegate->error;
    return std::nullopt;
  }
  return std::move(delegate->data);
}

}  // namespace os
