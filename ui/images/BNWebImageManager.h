#pragma once
// The one entry point for the image at a URL: the cache first, the downloader on a miss (or
// when a refresh is asked), the download stored in the cache, URLs that failed for good
// remembered, and every result reported on the main thread.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "os/core/URL.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageOperation.h"

enum BNImageLoadOption : unsigned {
  BNImageLoadRetryFailed = 1,
  BNImageLoadLowPriority = 2,
  BNImageLoadMemoryOnly = 4,
  BNImageLoadProgressive = 8,
  BNImageLoadRefreshCached = 16,
  BNImageLoadInBackground = 32,
  BNImageLoadHandleCookies = 64,
  BNImageLoadAllowInvalidCertificates = 128,
  BNImageLoadHighPriority = 256,
  BNImageLoadDelayPlaceholder = 512,
  BNImageLoadTransformAnimated = 1024,
  BNImageLoadClipToView = 2048,
};

class BNWebImageManager;

class BNWebImageManagerDelegate {
 public:
  virtual ~BNWebImageManagerDelegate() = default;
  // Whether the delegate answers the download question at all (an absent hook allows).
  virtual bool respondsToShouldDownloadImage() const { return false; }
  virtual bool imageManagerShouldDownloadImageForURL(BNWebImageManager& manager, const os::URL& url) { return true; }
  // Whether the delegate transforms downloaded images.
  virtual bool respondsToTransformDownloadedImage() const { return false; }
  virtual BNImagePtr imageManagerTransformDownloadedImage(BNWebImageManager& manager, const BNImagePtr& image, const os::URL& url) {
    return image;
  }
};

// Cancels a load's cache query and its share of the download together.
class BNWebImageCombinedOperation : public BNWebImageOperation {
 public:
  void cancel() override;
  bool isCancelled() const;
  // On an operation already cancelled the closure runs at once and is not kept.
  void setCancelBlock(std::function<void()> block);
  std::shared_ptr<BNWebImageOperation> cacheOperation() const;
  void setCacheOperation(std::shared_ptr<BNWebImageOperation> operation);

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::function<void()> cancelBlock_;
  std::shared_ptr<BNWebImageOperation> cacheOperation_;
};

class BNWebImageManager : public std::enable_shared_from_this<BNWebImageManager> {
 public:
  // (image, error, source, finished, URL)
  using CompletionWithFinishedBlock =
      std::function<void(BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished,
                         std::optional<os::URL> url)>;
  using CompletedBlock = std::function<void(BNImagePtr image, std::optional<os::Error> error, BNCacheSource source, bool finished)>;
  using ProgressBlock = BNWebImageDownloader::ProgressBlock;
  using CacheKeyFilter = std::function<std::string(const os::URL& url)>;

  static std::shared_ptr<BNWebImageManager> sharedManager();
  // The shared cache and the shared downloader.
  static std::shared_ptr<BNWebImageManager> create();
  static std::shared_ptr<BNWebImageManager> create(std::shared_ptr<BNImageCache> cache, std::shared_ptr<BNWebImageDownloader> downloader);
  BNWebImageManager(const BNWebImageManager&) = delete;
  BNWebImageManager& operator=(const BNWebImageManager&) = delete;

  const std::shared_ptr<BNImageCache>& imageCache() const { return imageCache_; }
  const std::shared_ptr<BNWebImageDownloader>& imageDownloader() const { return imageDownloader_; }
  void setDelegate(std::weak_ptr<BNWebImageManagerDelegate> delegate);
  void setCacheKeyFilter(CacheKeyFilter filter);

  std::string cacheKeyForURL(const std::optional<os::URL>& url) const;
  bool cachedImageExistsForURL(const os::URL& url);
  bool diskImageExistsForURL(const os::URL& url);
  void cachedImageExistsForURL(const os::URL& url, std::function<void(bool)> completion);
  void diskImageExistsForURL(const os::URL& url, std::function<void(bool)> completion);

  // Every report arrives on the main thread. A memory hit is reported before this returns.
  std::shared_ptr<BNWebImageCombinedOperation> downloadImageWithURL(const std::optional<os::URL>& url, unsigned options,
                                                                    ProgressBlock progress, CompletionWithFinishedBlock completed);
  // A URL given as text; text that is no URL counts as no URL.
  std::shared_ptr<BNWebImageCombinedOperation> downloadImageWithURL(std::string_view url, unsigned options, ProgressBlock progress,
                                                                    CompletionWithFinishedBlock completed);
  // Older form without the URL in the completion.
  std::shared_ptr<BNWebImageCombinedOperation> downloadWithURL(const std::optional<os::URL>& url, unsigned options,
                                                               ProgressBlock progress, CompletedBlock completed);

  void saveImageToCache(const BNImagePtr& image, const std::optional<os::URL>& url);
  void cancelAll();
  bool isRunning() const;
  // Whether the URL is remembered as failed for good. Servers choose how many URLs fail, so the
  // newest failures are remembered within a count and their text's bytes; an older one forgotten
  // is only tried once more.
  bool isFailedURL(const os::URL& url) const;
  static constexpr std::size_t kMaxFailedURLs = 1000;
  static constexpr std::size_t kMaxFailedURLBytes = 256 * 1024;

  // Whether an error means the URL will fail again however often it is tried (an answer of
  // 4xx other than 408 and 429, bytes that are no image, an unusable URL); network trouble,
  // server errors, time-outs and cancellation are not.
  static bool isPermanentFailure(const os::Error& error);

  struct PrivateTag {};
  BNWebImageManager(PrivateTag, std::shared_ptr<BNImageCache> cache, std::shared_ptr<BNWebImageDownloader> downloader);

 private:
  void removeRunning(const std::shared_ptr<BNWebImageCombinedOperation>& operation);
  void rememberFailedURL(const std::string& text);
  void queryDone(const std::shared_ptr<BNWebImageCombinedOperation>& operation, const os::URL& url, const std::string& key,
                 unsigned options, const ProgressBlock& progress, const CompletionWithFinishedBlock& completed,
                 BNImagePtr cachedImage, BNCacheSource source);
  void downloadDone(const std::shared_ptr<BNWebImageCombinedOperation>& operation, const os::URL& url, const std::string& key,
                    unsigned options, bool hadCachedImage, const CompletionWithFinishedBlock& completed, BNImagePtr image,
                    std::optional<os::Data> data, std::optional<os::Error> error, bool finished);

  std::shared_ptr<BNImageCache> imageCache_;
  std::shared_ptr<BNWebImageDownloader> imageDownloader_;
  mutable std::mutex delegateMutex_;
  std::weak_ptr<BNWebImageManagerDelegate> delegate_;
  CacheKeyFilter cacheKeyFilter_;
  mutable std::mutex failedMutex_;
  std::set<std::string> failedURLs_;
  std::deque<std::string> failedOrder_;  // oldest first
  std::size_t failedBytes_ = 0;
  mutable std::recursive_mutex runningMutex_;
  std::vector<std::shared_ptr<BNWebImageCombinedOperation>> runningOperations_;
};
