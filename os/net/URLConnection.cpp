#include "os/net/URLConnection.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <utility>

#include "os/core/String.h"
#include "os/net/HTTPCookieStorage.h"
#include "os/net/URLParts.h"
#include "os/runtime/Clock.h"
#include "os/runtime/ClockWait.h"
#include "os/runtime/RunLoop.h"

namespace os {

namespace {
constexpr int kMaximumRedirects = 16;

// The realm parameter of a "WWW-Authenticate" value.
std::string realmOf(const std::string& header) {
  auto at = header.find("realm=");
  if (at == std::string::npos) return {};
  std::string rest = header.substr(at + 6);
  if (!rest.empty() && rest[0] == '"') {
    auto end = rest.find('"', 1);
    return rest.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return rest.substr(0, rest.find_first_of(", "));
}

// scheme://host:port of a URL; empty when it cannot be read.
std::string originOf(const std::string& url) {
  auto parts = net::parseURL(url);
  if (!parts) return {};
  return parts->scheme + "://" + parts->host + ":" + std::to_string(parts->port);
}

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
  Client(std::weak_ptr<URLConnection> connection, std::shared_ptr<const CallbackTarget> target, std::uint64_t generation,
         std::shared_ptr<URLReceiveWindow> window)
      : connection_(std::move(connection)),
        target_(std::move(target)),
        generation_(generation),
        window_(std::move(window)) {}

  void transportDidSendBodyData(std::int64_t written, std::int64_t total, std::int64_t expected) override {
    deliver([=, g = generation_](URLConnection& c) { c.handleBodySent(g, written, total, expected); });
  }
  void transportDidReceiveResponse(const HTTPURLResponse& response) override {
    deliver([response, g = generation_](URLConnection& c) { c.handleResponse(g, response); });
  }
  void transportDidReceiveData(Data data) override {
    // Given back to the window once the task is done with, run or dropped: what the caller has
    // not yet taken holds the transfer back.
    std::shared_ptr<Receipt> receipt;
    if (window_) receipt = std::make_shared<Receipt>(window_, URLReceiveWindow::charge(data.size()));
    deliver([data = std::move(data), g = generation_, receipt = std::move(receipt)](URLConnection& c) {
      c.handleData(g, data);
    });
  }
  void transportDidFinish() override {
    deliver([g = generation_](URLConnection& c) { c.handleFinish(g); });
  }
  void transportDidFail(const Error& error) override {
    deliver([error, g = generation_](URLConnection& c) { c.handleFail(g, error); });
  }

 private:
  // The connection is only ever locked on the scheduling thread: a strong reference taken on the
  // transport's thread could end up the last one, and the connection (with its delegate's last
  // reference, perhaps) would then be destroyed on the transport's thread.
  template <class F>
  void deliver(F f) {
    if (!target_ || !*target_) return;
    (*target_)([weak = connection_, f = std::move(f)] {
      if (auto c = weak.lock()) f(*c);
    });
  }
  struct Receipt {
    Receipt(std::shared_ptr<URLReceiveWindow> w, std::size_t c) : window(std::move(w)), charged(c) {}
    ~Receipt() { window->taken(charged); }
    Receipt(const Receipt&) = delete;
    Receipt& operator=(const Receipt&) = delete;
    std::shared_ptr<URLReceiveWindow> window;
    std::size_t charged;
  };

  std::weak_ptr<URLConnection> connection_;
  std::shared_ptr<const CallbackTarget> target_;
  std::uint64_t generation_;
  std::shared_ptr<URLReceiveWindow> window_;
};

URLConnection::URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate)
    : original_(request), current_(std::move(request)), delegate_(std::move(delegate)) {}

namespace {
// The process's loads in flight, by serial.
struct LoadsInFlight {
  std::mutex mutex;
  std::uint64_t last = 0;
  std::map<std::uint64_t, URLConnection::LoadInFlight> loads;
  // The latest starts, oldest first, ended loads among them.
  struct Start {
    std::uint64_t serial;
    std::string url;
    double at;
  };
  static constexpr std::size_t kStartsRemembered = 1024;
  std::deque<Start> starts;
};

LoadsInFlight& loadsInFlightList() {
  static auto* list = new LoadsInFlight;  // never destroyed: threads may end loads at exit
  return *list;
}
}  // namespace

std::vector<URLConnection::LoadInFlight> URLConnection::loadsInFlight() {
  auto& list = loadsInFlightList();
  std::lock_guard lock(list.mutex);
  std::vector<LoadInFlight> out;
  out.reserve(list.loads.size());
  for (const auto& [serial, load] : list.loads) out.push_back(load);
  return out;
}

std::uint64_t URLConnection::lastLoadSerial() {
  auto& list = loadsInFlightList();
  std::lock_guard lock(list.mutex);
  return list.last;
}

std::optional<double> URLConnection::firstStartOf(const std::string& url, std::uint64_t afterSerial) {
  auto& list = loadsInFlightList();
  std::lock_guard lock(list.mutex);
  for (const auto& start : list.starts)
    if (start.serial > afterSerial && start.url == url) return start.at;
  return std::nullopt;
}

void URLConnection::leaveLoadsInFlight() {
  std::uint64_t serial;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serial = std::exchange(serial_, 0);
  }
  if (serial == 0) return;
  auto& list = loadsInFlightList();
  std::lock_guard lock(list.mutex);
  list.loads.erase(serial);
}

URLConnection::~URLConnection() {
  leaveLoadsInFlight();
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

void URLConnection::scheduleInRunLoop(const std::shared_ptr<RunLoop>& loop, bool dedicated) {
  std::weak_ptr<RunLoop> weak = loop;
  setCallbackTarget([weak](Task task) {
    if (auto l = weak.lock()) l->post(std::move(task));
  });
  std::lock_guard<std::mutex> lock(mutex_);
  if (dedicated) exchangeLoop_ = weak;
}

void URLConnection::setCallbackTarget(CallbackTarget target) {
  auto shared = std::make_shared<const CallbackTarget>(std::move(target));
  std::lock_guard<std::mutex> lock(mutex_);
  target_.swap(shared);
  exchangeLoop_.reset();
}

void URLConnection::post(Task task) {
  std::shared_ptr<const CallbackTarget> target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || ended_) return;
    target = target_;
  }
  if (target && *target) (*target)(std::move(task));
}

void URLConnection::start() { startLoad(false); }

void URLConnection::startNow() { startLoad(true); }

void URLConnection::startLoad(bool beginHere) {
  bool hasTarget;
  std::shared_ptr<RunLoop> exchangeLoop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || cancelled_) return;
    started_ = true;
    hasTarget = target_ && *target_;
    if (beginHere) exchangeLoop = exchangeLoop_.lock();
    keepAlive_ = shared_from_this();
    auto& list = loadsInFlightList();
    std::lock_guard listLock(list.mutex);
    serial_ = ++list.last;
    const double now = Clock::monotonic();
    list.loads.emplace(serial_, LoadInFlight{serial_, original_.url(), now, original_.valueForHTTPHeaderField("Accept").value_or("")});
    list.starts.push_back({serial_, original_.url(), now});
    if (list.starts.size() > LoadsInFlight::kStartsRemembered) list.starts.pop_front();
  }
  if (exchangeLoop && exchangeLoop->isCurrent()) {
    // Held here as a posted start holds it: a delegate may drop its own reference on a failure.
    auto self = shared_from_this();
    return beginLoad();
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
  leaveLoadsInFlight();
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
  leaveLoadsInFlight();
}

namespace {
// Why the request's URL cannot be loaded, or nothing. The first request and every redirect are
// held to the same rules, so a hop the URL type reads as hostless never reaches the transport.
std::optional<Error> whyUnloadable(const URLRequest& request, const std::optional<net::URLParts>& parts) {
  if (!parts || parts->host.empty())
    return makeURLError(request.hasURL() ? kURLErrorBadURL : kURLErrorUnsupportedURL, request.url(),
                        "The URL could not be read.");
  if (parts->scheme != "http" && parts->scheme != "https")
    return makeURLError(kURLErrorUnsupportedURL, request.url(), "unsupported URL");
  return std::nullopt;
}
}  // namespace

void URLConnection::beginLoad() {
  if (!live(generation_)) return;
  auto parts = net::parseURL(current_.url());
  if (auto why = whyUnloadable(current_, parts)) return failWith(*why);

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
  // The request as it goes out: the current one, copied only when it gains a credential or cookies.
  std::optional<URLRequest> amended;
  const auto amend = [&]() -> URLRequest& {
    if (!amended) amended = current_;
    return *amended;
  };
  if (credential_ && !current_.valueForHTTPHeaderField("Authorization")) {
    std::string origin = originOf(current_.url());
    if (!origin.empty() && origin == credentialOrigin_)
      amend().setValueForHTTPHeaderField("Basic " + base64Encoded(credential_->user + ":" + credential_->password), "Authorization");
  }
  if (current_.HTTPShouldHandleCookies() && !current_.valueForHTTPHeaderField("Cookie")) {
    if (auto cookies = HTTPCookieStorage::shared().cookieHeaderForURL(current_.url()))
      amend().setValueForHTTPHeaderField(*cookies, "Cookie");
  }
  const URLRequest& wire = amended ? *amended : current_;
  URLTransportOptions options;
  options.allowsAnyCertificate = allowsAnyCertificate_;
  options.blocking = blockingExchanges_;
  // Callbacks go to the scheduling thread in its own time: the transfer may only run ahead of it
  // by a window. A synchronous load takes everything after the exchange; its bound holds there.
  if (!blockingExchanges_) options.receiveWindow = std::make_shared<URLReceiveWindow>();
  std::uint64_t generation;
  std::shared_ptr<const CallbackTarget> target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = ++generation_;
    target = target_;
    options.runLoop = exchangeLoop_.lock();
  }
  finalResponse_ = false;
  response_.reset();
  cacheData_.clear();
  auto client = std::make_shared<Client>(weak_from_this(), std::move(target), generation, options.receiveWindow);
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
  // Credentials belong to the origin they were given for: another scheme, host or port must not
  // receive the caller's Authorization header.
  std::string from = originOf(current_.url());
  if (from.empty() || from != originOf(*target)) proposed.setValueForHTTPHeaderField(std::nullopt, "Authorization");
  int status = response.statusCode();
  if (status == 303 || ((status == 301 || status == 302) && current_.HTTPMethod() == "POST")) {
    if (proposed.HTTPMethod() != "HEAD") proposed.setHTTPMethod("GET");
    proposed.setHTTPBody({});
    proposed.setValueForHTTPHeaderField(std::nullopt, "Content-Type");
    proposed.setValueForHTTPHeaderField(std::nullopt, "Content-Length");
  }
  auto d = delegate();
  std::uint64_t g = generation_;
  if (!renewBodyStream(proposed)) return true;
  std::optional<URLRequest> next = d ? d->willSendRequest(*this, proposed, response) : std::optional<URLRequest>(proposed);
  if (!live(g)) return true;
  if (!next) return false;
  current_ = std::move(*next);
  if (auto why = whyUnloadable(current_, net::parseURL(current_.url()))) {
    failWith(*why);
    return true;
  }
  sendExchange();
  return true;
}

// False when the load ended meanwhile (failed for want of a stream, or cancelled).
bool URLConnection::renewBodyStream(URLRequest& request) {
  if (!request.HTTPBodyStream()) return true;
  std::uint64_t g = generation_;
  auto d = delegate();
  std::shared_ptr<InputStream> fresh = d ? d->needNewBodyStream(*this, request) : request.HTTPBodyStream()->copyStream();
  if (!live(g)) return false;
  if (!fresh) {
    failWith(makeURLError(kURLErrorRequestBodyStreamExhausted, current_.url(), "The body stream cannot be sent again."));
    return false;
  }
  request.setHTTPBodyStream(std::move(fresh));
  return true;
}

// True when the 401 was taken care of (the request goes again, or the load ended).
bool URLConnection::answerAuthentication(const HTTPURLResponse& response) {
  auto header = response.valueForHTTPHeaderField("WWW-Authenticate");
  auto d = delegate();
  auto parts = net::parseURL(current_.url());
  if (!header || !d || !parts) return false;
  std::string scheme = header->substr(0, header->find(' '));
  const char* method = HTTPHeaderFields::namesEqual(scheme, "Basic")    ? kAuthenticationMethodHTTPBasic
                       : HTTPHeaderFields::namesEqual(scheme, "Digest") ? kAuthenticationMethodHTTPDigest
                                                              : kAuthenticationMethodDefault;
  URLProtectionSpace space{parts->host, parts->port, parts->scheme, realmOf(*header), method};
  std::uint64_t g = generation_;
  bool can = d->canAuthenticateAgainstProtectionSpace(*this, space);
  if (!live(g)) return true;
  if (!can) return false;
  URLAuthenticationChallenge challenge(space, credentialsSent_);
  d->didReceiveAuthenticationChallenge(*this, challenge);
  if (!live(g)) return true;
  switch (challenge.answer()) {
    case URLAuthenticationChallenge::Answer::Cancel:
      failWith(makeURLError(kURLErrorUserCancelledAuthentication, current_.url(), "cancelled"));
      return true;
    case URLAuthenticationChallenge::Answer::UseCredential: {
      // Only Basic is spoken; a credential for another scheme leaves the 401 as the answer.
      if (!challenge.credential() || challenge.credential()->serverTrust || method == kAuthenticationMethodHTTPDigest)
        return false;
      URLRequest again = current_;
      if (!renewBodyStream(again)) return true;
      credential_ = challenge.credential();
      credentialOrigin_ = originOf(current_.url());
      ++credentialsSent_;
      current_ = std::move(again);
      sendExchange();
      return true;
    }
    default:
      return false;
  }
}

void URLConnection::handleResponse(std::uint64_t g, const HTTPURLResponse& response) {
  if (!live(g)) return;
  if (current_.HTTPShouldHandleCookies()) {
    auto lines = response.valuesForHTTPHeaderField("Set-Cookie");
    if (!lines.empty())
      HTTPCookieStorage::shared().setCookiesFromHeaderLines(lines, response.url());
    else if (auto joined = response.valueForHTTPHeaderField("Set-Cookie"))
      HTTPCookieStorage::shared().setCookiesFromHeader(*joined, response.url());
  }
  if (isRedirect(response.statusCode()) && followRedirect(response)) return;
  if (!live(g)) return;
  if (response.statusCode() == 401 && answerAuthentication(response)) return;
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
    // The body gathered for it is not needed past this offer.
    d->willCacheResponse(*this, CachedURLResponse{*response_, std::exchange(cacheData_, {})});
    if (!live(g)) return;
  }
  cacheData_.clear();
  end();
  if (d) d->didFinishLoading(*this);
  leaveLoadsInFlight();
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
  bool waiting = false;  // the caller sleeps on `ready`
};

}  // namespace

std::optional<Data> URLConnection::sendSynchronousRequest(const URLRequest& request, HTTPURLResponse* response,
                                                          Error* error) {
  auto queue = std::make_shared<TaskQueue>();
  auto delegate = std::make_shared<SynchronousDelegate>();
  auto connection = create(request, delegate, false);
  // This thread sleeps until the load ends anyway: it runs the exchanges itself, sparing the
  // hand-overs to the transport's thread and back.
  connection->blockingExchanges_ = true;
  connection->setCallbackTarget([queue](Task task) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      queue->tasks.push_back(std::move(task));
      // The events of one answer come in a burst: the first wakes the caller, the rest ride along.
      wake = queue->waiting;
      queue->waiting = false;
    }
    // After the lock: woken under it, the caller would only wait for the lock next.
    if (wake) queue->ready.notify_one();
  });
  connection->start();
  std::deque<std::function<void()>> batch;
  while (!delegate->done) {
    {
      std::unique_lock<std::mutex> lock(queue->mutex);
      queue->waiting = true;
      waitUntilReady(lock, queue->ready, [&] { return !queue->tasks.empty(); });
      queue->waiting = false;
      batch.swap(queue->tasks);
    }
    // Whatever came meanwhile, in one go; what follows the end is left for the drain below.
    while (!batch.empty() && !delegate->done) {
      auto task = std::move(batch.front());
      batch.pop_front();
      task();
    }
  }
  // Drain what the connection left behind (its last reference) before the queue goes.
  batch.clear();
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
