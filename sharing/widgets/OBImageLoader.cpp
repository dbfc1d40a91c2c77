#include "sharing/widgets/OBImageLoader.h"

#include <cinttypes>
#include <cstdio>

#include "os/core/URL.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBCache.h"

namespace {

os::Dictionary errorInfo(const os::Error& error) {
  return os::Dictionary{{"domain", os::Value(error.domain)}, {"code", os::Value(static_cast<long long>(error.code))}};
}

}  // namespace

OBImageLoadConnection::OBImageLoadConnection(std::string imageURL, std::weak_ptr<OBImageLoadConnectionDelegate> d)
    : delegate(std::move(d)), imageURL_(std::move(imageURL)) {}

void OBImageLoadConnection::start() {
  if (cancelled_ || connection_) return;
  os::URLRequest request(imageURL_, os::URLRequestCachePolicy::ReturnCacheDataElseLoad, timeoutInterval);
  request.setValueForHTTPHeaderField(std::string("gzip"), "Accept-Encoding");
  connection_ = os::URLConnection::create(request, weak_from_this(), true);
}

void OBImageLoadConnection::cancel() {
  cancelled_ = true;
  if (connection_) connection_->cancel();
}

void OBImageLoadConnection::didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse&) {
  if (&connection != connection_.get()) return;
  responseData_.clear();
}

void OBImageLoadConnection::didReceiveData(os::URLConnection& connection, const os::Data& data) {
  if (&connection != connection_.get()) return;
  responseData_.insert(responseData_.end(), data.begin(), data.end());
}

void OBImageLoadConnection::didFinishLoading(os::URLConnection& connection) {
  if (&connection != connection_.get()) return;
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->imageLoadConnectionDidFinishLoading(*this);
}

void OBImageLoadConnection::didFailWithError(os::URLConnection& connection, const os::Error& error) {
  if (&connection != connection_.get()) return;
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->imageLoadConnectionDidFailWithError(*this, error);
}

std::shared_ptr<OBImageLoader> OBImageLoader::sharedImageLoader() { return OBSocialContext::shared<OBImageLoader>(); }

std::uint64_t OBImageLoader::stableHash(const std::string& text) {
  // FNV-1a: the same on every run and platform, and 64 bits wide so that two URLs do not share a
  // cache file by accident.
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string OBImageLoader::cacheKey(const std::string& url, const std::optional<std::string>& style) {
  char key[80];
  if (style)
    std::snprintf(key, sizeof key, "PRImageLoader-%" PRIu64 "-%" PRIu64, stableHash(url), stableHash(*style));
  else
    std::snprintf(key, sizeof key, "PRImageLoader-%" PRIu64, stableHash(url));
  return key;
}

std::shared_ptr<OBImageLoadConnection> OBImageLoader::loadImageForURL(const std::string& url) {
  std::shared_ptr<OBImageLoadConnection> connection;
  {
    std::lock_guard lock(connectionsLock_);
    auto found = currentConnections_.find(url);
    if (found != currentConnections_.end()) return found->second;
    connection = std::make_shared<OBImageLoadConnection>(url, weak_from_this());
    currentConnections_[url] = connection;
    snapshot_ = std::make_shared<const std::map<std::string, std::shared_ptr<OBImageLoadConnection>>>(currentConnections_);
  }
  std::weak_ptr<OBImageLoadConnection> weak = connection;
  os::DispatchQueue::main()->asyncAfter(0.01, [weak] {
    if (auto c = weak.lock()) c->start();
  });
  return connection;
}

void OBImageLoader::loadImageForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer) {
  if (url.empty()) return;
  if (auto target = observer.lock()) {
    auto& center = os::NotificationCenter::defaultCenter();
    const std::string key = cacheKey(url);
    auto loaded = center.addObserver(kPRImageLoaderLoaded + key, this, [observer](const os::Notification& n) {
      if (auto o = observer.lock()) o->imageLoaderDidLoad(n);
    });
    auto failed = center.addObserver(kPRImageLoaderLoadFailed + key, this, [observer](const os::Notification& n) {
      if (auto o = observer.lock()) o->imageLoaderDidFailToLoad(n);
    });
    auto& list = observers_[target.get()];
    list.emplace_back(url, loaded);
    list.emplace_back(url, failed);
  }
  loadImageForURL(url);
}

std::shared_ptr<os::Image> OBImageLoader::imageForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer) {
  if (url.empty()) return nullptr;
  if (auto image = OBCache::currentCache()->imageForKey(cacheKey(url))) return image;
  loadImageForURL(url, observer);
  return nullptr;
}

std::optional<os::Data> OBImageLoader::dataForURL(const std::string& url, const std::weak_ptr<OBImageLoaderObserver>& observer,
                                                  bool isGif) {
  if (url.empty()) return std::nullopt;
  if (auto data = OBCache::currentCache()->dataForKey(cacheKey(url))) return data;
  loadImageForURL(url, observer);
  if (isGif) {
    std::lock_guard lock(connectionsLock_);
    auto found = currentConnections_.find(url);
    if (found != currentConnections_.end()) found->second->keepsBytes = true;
  }
  return std::nullopt;
}

bool OBImageLoader::hasLoadedImageURL(const std::string& url) const { return OBCache::currentCache()->hasCacheForKey(cacheKey(url)); }

bool OBImageLoader::isLoadingImageURL(const std::string& url) const {
  std::shared_ptr<const std::map<std::string, std::shared_ptr<OBImageLoadConnection>>> snapshot;
  {
    std::lock_guard lock(connectionsLock_);
    snapshot = snapshot_;
  }
  return snapshot->count(url) > 0;
}

void OBImageLoader::cancelLoadForURL(const std::string& url) {
  std::shared_ptr<OBImageLoadConnection> connection;
  {
    std::lock_guard lock(connectionsLock_);
    auto found = currentConnections_.find(url);
    if (found != currentConnections_.end()) connection = found->second;
  }
  if (connection) connection->cancel();
  cleanUp(url);
}

void OBImageLoader::removeObserver(const OBImageLoaderObserver* observer) {
  auto found = observers_.find(observer);
  if (found == observers_.end()) return;
  for (const auto& [url, token] : found->second) os::NotificationCenter::defaultCenter().removeObserver(token);
  observers_.erase(found);
}

void OBImageLoader::removeObserver(const OBImageLoaderObserver* observer, const std::string& url) {
  auto found = observers_.find(observer);
  if (found == observers_.end()) return;
  auto& list = found->second;
  for (auto it = list.begin(); it != list.end();) {
    if (it->first == url) {
      os::NotificationCenter::defaultCenter().removeObserver(it->second);
      it = list.erase(it);
    } else {
      ++it;
    }
  }
  if (list.empty()) observers_.erase(found);
}

void OBImageLoader::clearCacheForURL(const std::string& url, const std::optional<std::string>& style) {
  OBCache::currentCache()->removeCacheForKey(cacheKey(url, style));
}

void OBImageLoader::setCache_seconds(double seconds) {
  if (seconds > 0) cacheSeconds_ = seconds;
}

std::shared_ptr<os::Image> OBImageLoader::loadedImage(const std::string& url) const {
  auto found = delivering_.find(url);
  return found == delivering_.end() ? nullptr : found->second;
}

void OBImageLoader::cleanUp(const std::string& url) {
  std::lock_guard lock(connectionsLock_);
  auto found = currentConnections_.find(url);
  if (found == currentConnections_.end()) return;
  found->second->delegate.reset();
  currentConnections_.erase(found);
  snapshot_ = std::make_shared<const std::map<std::string, std::shared_ptr<OBImageLoadConnection>>>(currentConnections_);
}

void OBImageLoader::imageLoadConnectionDidFinishLoading(OBImageLoadConnection& connection) {
  const std::string url = connection.imageURL();
  const std::string key = cacheKey(url);
  const os::Data bytes = connection.responseData();
  auto self = shared_from_this();
  auto image = os::decodeImage(bytes);
  auto& center = os::NotificationCenter::defaultCenter();
  if (image || (connection.keepsBytes && !bytes.empty())) {
    OBCache::currentCache()->setData(bytes, key, cacheSeconds_);
    cleanUp(url);
    delivering_[url] = image;
    center.post(kPRImageLoaderLoaded + key, this, os::Dictionary{{"imageURL", os::Value(url)}});
    delivering_.erase(url);
    return;
  }
  auto parsed = os::URL::parse(url);
  os::Error error = os::Error::withDescription(parsed && parsed->host() ? *parsed->host() : std::string(), 406,
                                               "the answer is not a picture");
  cleanUp(url);
  center.post(kPRImageLoaderLoadFailed + key, this, os::Dictionary{{"imageURL", os::Value(url)}, {"error", os::Value(errorInfo(error))}});
}

void OBImageLoader::imageLoadConnectionDidFailWithError(OBImageLoadConnection& connection, const os::Error& error) {
  const std::string url = connection.imageURL();
  auto self = shared_from_this();
  cleanUp(url);
  os::NotificationCenter::defaultCenter().post(kPRImageLoaderLoadFailed + cacheKey(url), this,
                                               os::Dictionary{{"imageURL", os::Value(url)}, {"error", os::Value(errorInfo(error))}});
}

OBImageView::OBImageView(std::shared_ptr<os::Image> placeholder, std::weak_ptr<OBImageViewDelegate> d)
    : delegate(std::move(d)), placeholderImage_(std::move(placeholder)) {
  setImage(placeholderImage_);
  setHidden(true);
}

OBImageView::~OBImageView() {
  if (auto loader = OBSocialContext::current()->instance<OBImageLoader>([] { return std::shared_ptr<OBImageLoader>(); }))
    loader->removeObserver(this);
}

std::weak_ptr<OBImageLoaderObserver> OBImageView::selfObserver() {
  return std::static_pointer_cast<OBImageView>(shared_from_this());
}

void OBImageView::setImageURL(const std::optional<std::string>& url) {
  auto loader = OBImageLoader::sharedImageLoader();
  if (imageURL_) {
    loader->removeObserver(this, *imageURL_);
    imageURL_.reset();
  }
  if (!url) {
    setImage(placeholderImage_);
    return;
  }
  imageURL_ = url;
  loader->removeObserver(this);
  if (isGif) return;
  if (auto cached = loader->imageForURL(*url, selfObserver())) {
    setImage(cached);
    setHidden(false);
    isCacheImage_ = true;
    if (auto d = delegate.lock()) d->imageViewLoadedImage(*this);
    return;
  }
  isCacheImage_ = false;
  setImage(placeholderImage_);
}

void OBImageView::cancelImageLoad() {
  if (!imageURL_) return;
  auto loader = OBImageLoader::sharedImageLoader();
  loader->cancelLoadForURL(*imageURL_);
  loader->removeObserver(this, *imageURL_);
}

void OBImageView::setCacheSecondes(double seconds) {
  if (seconds > 0)
    OBImageLoader::sharedImageLoader()->setCache_seconds(seconds);
  else
    OBUtils::outLogf("[%f] is error", seconds);
}

void OBImageView::imageLoaderDidLoad(const os::Notification& notification) {
  setHidden(false);
  const std::string url = notification.userInfo["imageURL"].stringOr();
  if (!imageURL_ || url != *imageURL_) return;
  status_ = 1;
  // Bytes kept for an animation's caller that are no picture leave the placeholder up.
  if (auto picture = OBImageLoader::sharedImageLoader()->loadedImage(url); picture && !isGif) setImage(picture);
  setNeedsDisplay();
  if (auto d = delegate.lock()) d->imageViewLoadedImage(*this);
}

void OBImageView::imageLoaderDidFailToLoad(const os::Notification& notification) {
  status_ = 2;
  const std::string url = notification.userInfo["imageURL"].stringOr();
  if (!imageURL_ || url != *imageURL_) return;
  const os::Value& info = notification.userInfo["error"];
  os::Error error(info["domain"].stringOr(), static_cast<long>(info["code"].intValue()));
  if (auto d = delegate.lock()) d->imageViewFailedToLoadImage(*this, error);
}
