#include "ui/images/BNWebImageDownloader.h"

#include <algorithm>

#include "os/net/URLError.h"
#include "os/runtime/Once.h"

void BNWebImageDownloadToken::cancel() {
  if (auto downloader = downloader_.lock()) downloader->cancelCallback(url_, id_);
}

std::shared_ptr<BNWebImageDownloader> BNWebImageDownloader::sharedDownloader() {
  static os::Once once;
  static std::shared_ptr<BNWebImageDownloader> instance;
  once.call([] { instance = create(); });
  return instance;
}

std::shared_ptr<BNWebImageDownloader> BNWebImageDownloader::create() { return std::make_shared<BNWebImageDownloader>(PrivateTag{}); }

BNWebImageDownloader::BNWebImageDownloader(PrivateTag) : downloadQueue_(os::OperationQueue::create("BNWebImageDownloader")) {
  downloadQueue_->setMaxConcurrentOperationCount(2);
  // Ask first for what the decoder reads; a server choosing among variants then never picks a
  // format (such as WebP) that would arrive as an undecodable answer.
  HTTPHeaders_.set("Accept", "image/png,image/jpeg,image/gif,image/*;q=0.8");
}

BNWebImageDownloader::~BNWebImageDownloader() { downloadQueue_->cancelAllOperations(); }

void BNWebImageDownloader::setValueForHTTPHeaderField(const std::optional<std::string>& value, const std::string& field) {
  std::lock_guard lock(mutex_);
  if (value)
    HTTPHeaders_.set(field, *value);
  else
    HTTPHeaders_.remove(field);
}

std::optional<std::string> BNWebImageDownloader::valueForHTTPHeaderField(const std::string& field) const {
  std::lock_guard lock(mutex_);
  return HTTPHeaders_.value(field);
}

double BNWebImageDownloader::downloadTimeout() const {
  std::lock_guard lock(mutex_);
  return downloadTimeout_;
}

void BNWebImageDownloader::setDownloadTimeout(double seconds) {
  std::lock_guard lock(mutex_);
  downloadTimeout_ = seconds;
}

void BNWebImageDownloader::setUsername(std::string username) {
  std::lock_guard lock(mutex_);
  username_ = std::move(username);
}

void BNWebImageDownloader::setPassword(std::string password) {
  std::lock_guard lock(mutex_);
  password_ = std::move(password);
}

void BNWebImageDownloader::setHeadersFilter(HeadersFilter filter) {
  std::lock_guard lock(mutex_);
  headersFilter_ = std::move(filter);
}

std::shared_ptr<BNWebImageDownloadToken> BNWebImageDownloader::downloadImageWithURL(const std::optional<os::URL>& url,
                                                                                   unsigned options, ProgressBlock progress,
                                                                                   CompletedBlock completed) {
  if (!url) {
    if (completed)
      completed(nullptr, std::nullopt,
                os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorNilURL, "Trying to load a nil url"), true);
    return nullptr;
  }
  const std::string& key = url->absoluteString();
  os::URLRequest request = makeRequest(key, options);
  std::shared_ptr<BNWebImageDownloaderOperation> operation;
  std::shared_ptr<BNWebImageDownloaderOperation> previous;
  std::shared_ptr<BNWebImageDownloadToken> token;
  {
    std::lock_guard lock(mutex_);
    auto [it, first] = URLCallbacks_.try_emplace(key);
    Entry& entry = it->second;
    std::uint64_t id = nextId_++;
    if (first) entry.generation = nextId_++;
    entry.callbacks.push_back({id, std::move(progress), std::move(completed)});
    token = std::make_shared<BNWebImageDownloadToken>(weak_from_this(), key, id);
    if (first) {
      operation = makeOperation(key, std::move(request), options, entry.generation);
      entry.operation = operation;
      token->operation_ = operation;
      if (executionOrder_.load() == BNDownloadOrderLIFO) {
        previous = lastAddedOperation_.lock();
        lastAddedOperation_ = operation;
      }
    }
  }
  if (operation) {
    // Last in, first out: the operation added before waits for this one.
    if (previous) previous->addDependency(operation);
    downloadQueue_->addOperation(operation);
  }
  return token;
}

os::URLRequest BNWebImageDownloader::makeRequest(const std::string& url, unsigned options) const {
  HeadersFilter filter;
  os::HTTPHeaderFields headers;
  double timeout;
  {
    std::lock_guard lock(mutex_);
    filter = headersFilter_;
    headers = HTTPHeaders_;
    timeout = downloadTimeout_ == 0 ? kDefaultDownloadTimeout : downloadTimeout_;
  }
  os::URLRequest request(url,
                         (options & BNDownloadUseURLCache) ? os::URLRequestCachePolicy::UseProtocolCachePolicy
                                                           : os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                         timeout);
  request.setHTTPShouldHandleCookies((options & BNDownloadHandleCookies) != 0);
  request.setHTTPShouldUsePipelining(true);
  // The filter is the caller's code: it runs outside our lock.
  request.setAllHTTPHeaderFields(filter ? filter(url, headers) : headers);
  return request;
}

std::shared_ptr<BNWebImageDownloaderOperation> BNWebImageDownloader::makeOperation(const std::string& url, os::URLRequest request,
                                                                                  unsigned options, std::uint64_t generation) {
  // mutex_ is held.
  std::weak_ptr<BNWebImageDownloader> weak = weak_from_this();
  auto operation = BNWebImageDownloaderOperation::initWithRequest(
      std::move(request), options,
      [weak, url, generation](std::int64_t received, std::int64_t expected) {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& callback : self->callbacksForURL(url, generation))
          if (callback.progress) callback.progress(received, expected);
      },
      [weak, url, generation](BNImagePtr image, std::optional<os::Data> data, std::optional<os::Error> error, bool finished) {
        auto self = weak.lock();
        if (!self) return;
        auto callbacks = finished ? self->takeCallbacksForURL(url, generation) : self->callbacksForURL(url, generation);
        for (const auto& callback : callbacks)
          if (callback.completed) callback.completed(image, data, error, finished);
      },
      [weak, url, generation] {
        if (auto self = weak.lock()) self->removeCallbacksForURL(url, generation);
      });
  if (!username_.empty() && !password_.empty())
    operation->setCredential(os::URLCredential::withUser(username_, password_, os::URLCredential::Persistence::ForSession));
  if (options & BNDownloadHighPriority)
    operation->setQueuePriority(os::Operation::QueuePriority::High);
  else if (options & BNDownloadLowPriority)
    operation->setQueuePriority(os::Operation::QueuePriority::Low);
  return operation;
}

std::vector<BNWebImageDownloader::Callback> BNWebImageDownloader::callbacksForURL(const std::string& url,
                                                                                 std::uint64_t generation) const {
  std::lock_guard lock(mutex_);
  auto it = URLCallbacks_.find(url);
  if (it == URLCallbacks_.end() || it->second.generation != generation) return {};
  return it->second.callbacks;
}

std::vector<BNWebImageDownloader::Callback> BNWebImageDownloader::takeCallbacksForURL(const std::string& url,
                                                                                     std::uint64_t generation) {
  std::lock_guard lock(mutex_);
  auto it = URLCallbacks_.find(url);
  if (it == URLCallbacks_.end() || it->second.generation != generation) return {};
  auto callbacks = std::move(it->second.callbacks);
  URLCallbacks_.erase(it);
  return callbacks;
}

void BNWebImageDownloader::removeCallbacksForURL(const std::string& url, std::uint64_t generation) {
  std::lock_guard lock(mutex_);
  auto it = URLCallbacks_.find(url);
  if (it != URLCallbacks_.end() && it->second.generation == generation) URLCallbacks_.erase(it);
}

void BNWebImageDownloader::cancelCallback(const std::string& url, std::uint64_t id) {
  std::shared_ptr<BNWebImageDownloaderOperation> operation;
  {
    std::lock_guard lock(mutex_);
    auto it = URLCallbacks_.find(url);
    if (it == URLCallbacks_.end()) return;
    auto& callbacks = it->second.callbacks;
    auto found = std::find_if(callbacks.begin(), callbacks.end(), [id](const Callback& c) { return c.id == id; });
    if (found == callbacks.end()) return;
    callbacks.erase(found);
    if (!callbacks.empty()) return;
    operation = it->second.operation.lock();
    URLCallbacks_.erase(it);
  }
  // The last caller left: nobody wants the bytes any more.
  if (operation) operation->cancel();
}

std::size_t BNWebImageDownloader::callbackCountForURL(const std::string& url) const {
  std::lock_guard lock(mutex_);
  auto it = URLCallbacks_.find(url);
  return it == URLCallbacks_.end() ? 0 : it->second.callbacks.size();
}
