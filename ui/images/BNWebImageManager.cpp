#include "ui/images/BNWebImageManager.h"

#include <algorithm>

#include "os/net/URLError.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Once.h"
#include "ui/images/BNMainThread.h"

namespace {
constexpr long kURLErrorFileDoesNotExist = -1100;
}

void BNWebImageCombinedOperation::cancel() {
  std::function<void()> block;
  std::shared_ptr<BNWebImageOperation> cacheOperation;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    cacheOperation = std::move(cacheOperation_);
    cacheOperation_.reset();
    block = std::move(cancelBlock_);
    cancelBlock_ = nullptr;
  }
  if (cacheOperation) cacheOperation->cancel();
  if (block) block();
}

bool BNWebImageCombinedOperation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void BNWebImageCombinedOperation::setCancelBlock(std::function<void()> block) {
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_) {
      cancelBlock_ = std::move(block);
      return;
    }
  }
  if (block) block();
}

std::shared_ptr<BNWebImageOperation> BNWebImageCombinedOperation::cacheOperation() const {
  std::lock_guard lock(mutex_);
  return cacheOperation_;
}

void BNWebImageCombinedOperation::setCacheOperation(std::shared_ptr<BNWebImageOperation> operation) {
  std::lock_guard lock(mutex_);
  cacheOperation_ = std::move(operation);
}

std::shared_ptr<BNWebImageManager> BNWebImageManager::sharedManager() {
  static os::Once once;
  static std::shared_ptr<BNWebImageManager> instance;
  once.call([] {
    instance = create();
    // Partial images of downloads take the "@2x." scale from the key this manager gives a URL.
    std::weak_ptr<BNWebImageManager> weak = instance;
    BNWebImageDownloaderOperation::setCacheKeyProvider([weak](const std::string& url) {
      auto manager = weak.lock();
      return manager ? manager->cacheKeyForURL(os::URL::parse(url)) : url;
    });
  });
  return instance;
}

std::shared_ptr<BNWebImageManager> BNWebImageManager::create() {
  return create(BNImageCache::sharedImageCache(), BNWebImageDownloader::sharedDownloader());
}

std::shared_ptr<BNWebImageManager> BNWebImageManager::create(std::shared_ptr<BNImageCache> cache,
                                                             std::shared_ptr<BNWebImageDownloader> downloader) {
  return std::make_shared<BNWebImageManager>(PrivateTag{}, std::move(cache), std::move(downloader));
}

BNWebImageManager::BNWebImageManager(PrivateTag, std::shared_ptr<BNImageCache> cache, std::shared_ptr<BNWebImageDownloader> downloader)
    : imageCache_(std::move(cache)), imageDownloader_(std::move(downloader)) {}

void BNWebImageManager::setDelegate(std::weak_ptr<BNWebImageManagerDelegate> delegate) {
  std::lock_guard lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

void BNWebImageManager::setCacheKeyFilter(CacheKeyFilter filter) {
  std::lock_guard lock(delegateMutex_);
  cacheKeyFilter_ = std::move(filter);
}

std::string BNWebImageManager::cacheKeyForURL(const std::optional<os::URL>& url) const {
  if (!url) return {};
  CacheKeyFilter filter;
  {
    std::lock_guard lock(delegateMutex_);
    filter = cacheKeyFilter_;
  }
  return filter ? filter(*url) : url->absoluteString();
}

bool BNWebImageManager::cachedImageExistsForURL(const os::URL& url) {
  auto key = cacheKeyForURL(url);
  return imageCache_->imageFromMemoryCacheForKey(key) != nullptr || imageCache_->diskImageExistsWithKey(key);
}

bool BNWebImageManager::diskImageExistsForURL(const os::URL& url) { return imageCache_->diskImageExistsWithKey(cacheKeyForURL(url)); }

void BNWebImageManager::cachedImageExistsForURL(const os::URL& url, std::function<void(bool)> completion) {
  auto key = cacheKeyForURL(url);
  if (imageCache_->imageFromMemoryCacheForKey(key)) {
    if (completion) os::DispatchQueue::main()->async([completion] { completion(true); });
    return;
  }
  imageCache_->diskImageExistsWithKey(key, std::move(completion));
}

void BNWebImageManager::diskImageExistsForURL(const os::URL& url, std::function<void(bool)> completion) {
  imageCache_->diskImageExistsWithKey(cacheKeyForURL(url), std::move(completion));
}

bool BNWebImageManager::isFailedURL(const os::URL& url) const {
  std::lock_guard lock(failedMutex_);
  return failedURLs_.count(url.absoluteString()) != 0;
}

void BNWebImageManager::rememberFailedURL(const std::string& text) {
  std::lock_guard lock(failedMutex_);
  if (!failedURLs_.insert(text).second) return;
  failedOrder_.push_back(text);
  failedBytes_ += text.size();
  while (failedOrder_.size() > 1 && (failedOrder_.size() > kMaxFailedURLs || failedBytes_ > kMaxFailedURLBytes)) {
    failedBytes_ -= failedOrder_.front().size();
    failedURLs_.erase(failedOrder_.front());
    failedOrder_.pop_front();
  }
}

bool BNWebImageManager::isPermanentFailure(const os::Error& error) {
  if (error.domain == os::kURLErrorDomain) {
    // Positive codes are HTTP statuses: a client error stays an error, a server error may pass.
    if (error.code >= 400 && error.code < 500) return error.code != 408 && error.code != 429;
    return error.code == os::kURLErrorBadURL || error.code == os::kURLErrorUnsupportedURL || error.code == kURLErrorFileDoesNotExist;
  }
  if (error.domain == BNWebImageErrorDomain) return true;  // bytes that are no image, or too many
  return false;
}

std::shared_ptr<BNWebImageCombinedOperation> BNWebImageManager::downloadImageWithURL(std::string_view url, unsigned options,
                                                                                    ProgressBlock progress,
                                                                                    CompletionWithFinishedBlock completed) {
  return downloadImageWithURL(os::URL::parse(url), options, std::move(progress), std::move(completed));
}

std::shared_ptr<BNWebImageCombinedOperation> BNWebImageManager::downloadWithURL(const std::optional<os::URL>& url, unsigned options,
                                                                               ProgressBlock progress, CompletedBlock completed) {
  CompletionWithFinishedBlock adapted;
  if (completed)
    adapted = [completed](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished, std::optional<os::URL>) {
      completed(std::move(image), std::move(error), source, finished);
    };
  return downloadImageWithURL(url, options, std::move(progress), std::move(adapted));
}

std::shared_ptr<BNWebImageCombinedOperation> BNWebImageManager::downloadImageWithURL(const std::optional<os::URL>& url,
                                                                                    unsigned options, ProgressBlock progress,
                                                                                    CompletionWithFinishedBlock completed) {
  auto operation = std::make_shared<BNWebImageCombinedOperation>();
  bool failedBefore = url && isFailedURL(*url);
  if (!url || (failedBefore && !(options & BNImageLoadRetryFailed))) {
    if (completed)
      BNRunOnMainThread([completed, url] {
        completed(nullptr, os::makeURLError(kURLErrorFileDoesNotExist, url ? url->absoluteString() : std::string()),
                  BNCacheSourceNone, true, url);
      });
    return operation;
  }
  {
    std::lock_guard lock(runningMutex_);
    runningOperations_.push_back(operation);
  }
  auto key = cacheKeyForURL(url);
  auto self = shared_from_this();
  std::weak_ptr<BNWebImageCombinedOperation> weakOperation = operation;
  // Cancelled while the cache is asked, the query never answers: the cancel itself must take the
  // operation off the running list (a download replaces this closure with its own).
  operation->setCancelBlock([self, weakOperation] {
    if (auto op = weakOperation.lock()) self->removeRunning(op);
  });
  auto token = imageCache_->queryDiskCacheForKey(
      key, [self, weakOperation, url = *url, key, options, progress, completed](BNImagePtr image, BNCacheSource source) {
        auto operation = weakOperation.lock();
        if (!operation) return;
        self->queryDone(operation, url, key, options, progress, completed, std::move(image), source);
      });
  if (token) operation->setCacheOperation(token);
  return operation;
}

void BNWebImageManager::queryDone(const std::shared_ptr<BNWebImageCombinedOperation>& operation, const os::URL& url,
                                  const std::string& key, unsigned options, const ProgressBlock& progress,
                                  const CompletionWithFinishedBlock& completed, BNImagePtr cachedImage, BNCacheSource source) {
  if (operation->isCancelled()) {
    removeRunning(operation);
    return;
  }
  std::shared_ptr<BNWebImageManagerDelegate> delegate;
  {
    std::lock_guard lock(delegateMutex_);
    delegate = delegate_.lock();
  }
  bool refresh = (options & BNImageLoadRefreshCached) != 0;
  bool allowed = !delegate || !delegate->respondsToShouldDownloadImage() || delegate->imageManagerShouldDownloadImageForURL(*this, url);
  std::weak_ptr<BNWebImageCombinedOperation> weakOperation = operation;

  if ((!cachedImage || refresh) && allowed) {
    if (cachedImage && refresh && completed) {
      // The cached picture first, while the refresh runs; a caller who cancelled gets nothing.
      BNRunOnMainThread([operation, completed, cachedImage, source, url] {
        if (!operation->isCancelled()) completed(cachedImage, std::nullopt, source, true, url);
      });
    }
    unsigned downloaderOptions = 0;
    if (options & BNImageLoadLowPriority) downloaderOptions |= BNDownloadLowPriority;
    if (options & BNImageLoadProgressive) downloaderOptions |= BNDownloadProgressive;
    if (options & BNImageLoadRefreshCached) downloaderOptions |= BNDownloadUseURLCache;
    if (options & BNImageLoadInBackground) downloaderOptions |= BNDownloadInBackground;
    if (options & BNImageLoadHandleCookies) downloaderOptions |= BNDownloadHandleCookies;
    if (options & BNImageLoadAllowInvalidCertificates) downloaderOptions |= BNDownloadAllowInvalidCertificates;
    if (options & BNImageLoadHighPriority) downloaderOptions |= BNDownloadHighPriority;
    bool hadCachedImage = cachedImage != nullptr;
    if (hadCachedImage && refresh) {
      downloaderOptions &= ~static_cast<unsigned>(BNDownloadProgressive);
      downloaderOptions |= BNDownloadIgnoreCachedResponse;
    }
    auto self = shared_from_this();
    auto token = imageDownloader_->downloadImageWithURL(
        url, downloaderOptions, progress,
        [self, weakOperation, url, key, options, hadCachedImage, completed](BNImagePtr image, std::optional<os::Data> data,
                                                                            std::optional<os::Error> error, bool finished) {
          auto operation = weakOperation.lock();
          if (!operation) return;
          self->downloadDone(operation, url, key, options, hadCachedImage, completed, std::move(image), std::move(data),
                             std::move(error), finished);
        });
    operation->setCancelBlock([self, weakOperation, token] {
      if (token) token->cancel();
      if (auto op = weakOperation.lock()) self->removeRunning(op);
    });
    return;
  }

  // The report holds the operation: a caller may have dropped it and still wants the answer.
  BNRunOnMainThread([operation, completed, cachedImage, source, url] {
    if (completed && !operation->isCancelled()) {
      if (cachedImage)
        completed(cachedImage, std::nullopt, source, true, url);
      else
        completed(nullptr, std::nullopt, BNCacheSourceNone, true, url);  // the delegate refused
    }
  });
  removeRunning(operation);
}

void BNWebImageManager::downloadDone(const std::shared_ptr<BNWebImageCombinedOperation>& operation, const os::URL& url,
                                     const std::string& key, unsigned options, bool hadCachedImage,
                                     const CompletionWithFinishedBlock& completed, BNImagePtr image, std::optional<os::Data> data,
                                     std::optional<os::Error> error, bool finished) {
  auto report = [operation, completed, url, finished](BNImagePtr image, std::optional<os::Error> error) {
    BNRunOnMainThread([operation, completed, url, finished, image, error] {
      if (completed && !operation->isCancelled()) completed(image, error, BNCacheSourceNone, finished, url);
    });
  };
  bool toDisk = !(options & BNImageLoadMemoryOnly);
  std::shared_ptr<BNWebImageManagerDelegate> delegate;
  {
    std::lock_guard lock(delegateMutex_);
    delegate = delegate_.lock();
  }

  if (operation->isCancelled()) {
    // Nothing is reported to a caller who left.
  } else if (error) {
    // Remembered before the report, so a caller retrying from its completion is refused too.
    if (isPermanentFailure(*error)) rememberFailedURL(url.absoluteString());
    report(nullptr, error);
  } else if ((options & BNImageLoadRefreshCached) && hadCachedImage && !image) {
    // The cached answer was already reported and nothing new came.
  } else if (image && (!image->isAnimated() || (options & BNImageLoadTransformAnimated)) && delegate &&
             delegate->respondsToTransformDownloadedImage()) {
    auto self = shared_from_this();
    os::DispatchQueue::global(os::DispatchQueue::Priority::High)->async([self, delegate, image, data, url, key, finished, toDisk, report] {
      auto transformed = delegate->imageManagerTransformDownloadedImage(*self, image, url);
      if (transformed && finished) self->imageCache_->storeImage(transformed, transformed != image, data, key, toDisk);
      report(transformed, std::nullopt);
    });
  } else {
    if (image && finished) imageCache_->storeImage(image, false, data, key, toDisk);
    report(image, std::nullopt);
  }
  if (finished) removeRunning(operation);
}

void BNWebImageManager::saveImageToCache(const BNImagePtr& image, const std::optional<os::URL>& url) {
  if (image && url) imageCache_->storeImage(image, cacheKeyForURL(url));
}

void BNWebImageManager::cancelAll() {
  std::vector<std::shared_ptr<BNWebImageCombinedOperation>> operations;
  {
    std::lock_guard lock(runningMutex_);
    operations.swap(runningOperations_);
  }
  for (auto& operation : operations) operation->cancel();
}

bool BNWebImageManager::isRunning() const {
  std::lock_guard lock(runningMutex_);
  return !runningOperations_.empty();
}

void BNWebImageManager::removeRunning(const std::shared_ptr<BNWebImageCombinedOperation>& operation) {
  std::lock_guard lock(runningMutex_);
  runningOperations_.erase(std::remove(runningOperations_.begin(), runningOperations_.end(), operation), runningOperations_.end());
}
