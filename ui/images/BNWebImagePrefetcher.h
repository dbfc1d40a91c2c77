#pragma once
// Loads a list of image URLs into the cache ahead of need, a few at a time: each finished load
// starts the next, so the list advances as a sliding window. Counting and reporting happen on the
// main thread; call it from there.
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "os/core/URL.h"
#include "ui/images/BNWebImageManager.h"

class BNWebImagePrefetcher;

class BNWebImagePrefetcherDelegate {
 public:
  virtual ~BNWebImagePrefetcherDelegate() = default;
  virtual void imagePrefetcherDidPrefetchURL(BNWebImagePrefetcher& prefetcher, const os::URL& url, std::size_t finishedCount,
                                             std::size_t totalCount) {}
  // totalCount counts the loads that yielded an image.
  virtual void imagePrefetcherDidFinishWithTotalCount(BNWebImagePrefetcher& prefetcher, std::size_t totalCount,
                                                      std::size_t skippedCount) {}
};

class BNWebImagePrefetcher : public std::enable_shared_from_this<BNWebImagePrefetcher> {
 public:
  using ProgressBlock = std::function<void(std::size_t finishedCount, std::size_t totalCount)>;
  using CompletionBlock = std::function<void(std::size_t finishedCount, std::size_t skippedCount)>;

  static std::shared_ptr<BNWebImagePrefetcher> sharedImagePrefetcher();
  // A manager of its own over the shared cache and downloader.
  static std::shared_ptr<BNWebImagePrefetcher> create();
  // Over the given manager. Either way its downloader then runs up to 3 downloads at once.
  static std::shared_ptr<BNWebImagePrefetcher> create(std::shared_ptr<BNWebImageManager> manager);

  const std::shared_ptr<BNWebImageManager>& manager() const { return manager_; }
  unsigned options() const { return options_; }
  void setOptions(unsigned options) { options_ = options; }
  void setDelegate(std::weak_ptr<BNWebImagePrefetcherDelegate> delegate) { delegate_ = std::move(delegate); }
  int maxConcurrentDownloads() const { return manager_->imageDownloader()->maxConcurrentDownloads(); }
  void setMaxConcurrentDownloads(int count) { manager_->imageDownloader()->setMaxConcurrentDownloads(count); }

  const std::vector<os::URL>& prefetchURLs() const { return prefetchURLs_; }
  std::size_t requestedCount() const { return requestedCount_; }
  std::size_t skippedCount() const { return skippedCount_; }
  std::size_t finishedCount() const { return finishedCount_; }
  double startedTime() const { return startedTime_; }

  void prefetchURLs(std::vector<os::URL> urls) { prefetchURLs(std::move(urls), nullptr, nullptr); }
  // Cancels a list still running; it reports nothing more. An empty list completes at once with
  // (0, 0).
  void prefetchURLs(std::vector<os::URL> urls, ProgressBlock progress, CompletionBlock completed);
  void cancelPrefetching();

  void startPrefetchingAtIndex(std::size_t index);
  void reportStatus();

  struct PrivateTag {};
  BNWebImagePrefetcher(PrivateTag, std::shared_ptr<BNWebImageManager> manager);

 private:
  // The delegate's final report, then the completion (once).
  void finishList();

  std::shared_ptr<BNWebImageManager> manager_;
  unsigned options_ = BNImageLoadLowPriority;
  std::weak_ptr<BNWebImagePrefetcherDelegate> delegate_;
  std::vector<os::URL> prefetchURLs_;
  std::size_t requestedCount_ = 0;
  std::size_t skippedCount_ = 0;
  std::size_t finishedCount_ = 0;
  CompletionBlock completionBlock_;
  ProgressBlock progressBlock_;
  double startedTime_ = 0;
  // Tells the loads of the current list from those of a list that was replaced.
  std::uint64_t generation_ = 0;
};
