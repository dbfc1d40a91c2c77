#pragma once
// Decoded images in two tiers: memory (cost-limited, evictable) and disk (one file per key,
// named by the MD5 of the key, in a folder under the caches directory).
//
// Threads: disk work runs on one serial queue owned by the cache, in submission order; the
// completions of asynchronous operations arrive on the main queue, asynchronously. The memory
// tier and the synchronous disk reads may be used from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "ui/images/BNMemoryCache.h"
#include "ui/images/BNWebImageOperation.h"
#include "ui/images/ImageDecoding.h"

enum BNCacheSource : int { BNCacheSourceNone = 0, BNCacheSourceDisk = 1, BNCacheSourceMemory = 2 };

inline constexpr unsigned char kPNGSignatureBytes[8] = {137, 80, 78, 71, 13, 10, 26, 10};
bool ImageDataHasPNGPreffix(const os::Data& data);

// The cancellation token of a disk query: cancelled before the io queue reaches the query, the
// query neither reads nor answers.
class BNImageCacheQueryOperation : public BNWebImageOperation {
 public:
  void cancel() override { cancelled_ = true; }
  bool isCancelled() const { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

class BNImageCache : public std::enable_shared_from_this<BNImageCache> {
 public:
  using QueryCompletion = std::function<void(BNImagePtr image, BNCacheSource source)>;
  using NoParamsBlock = std::function<void()>;
  using CheckCacheCompletion = std::function<void(bool exists)>;
  using CalculateSizeBlock = std::function<void(std::uint64_t fileCount, std::uint64_t totalSize)>;

  static constexpr std::int32_t kDefaultMaxCacheAge = 60 * 60 * 24 * 7;  // one week
  static constexpr std::size_t kDefaultMaxMemoryCount = 200;

  static std::shared_ptr<BNImageCache> sharedImageCache();
  // The "default" namespace.
  static std::shared_ptr<BNImageCache> create();
  // Under the current sandbox's caches directory.
  static std::shared_ptr<BNImageCache> initWithNamespace(const std::string& ns);
  ~BNImageCache();
  BNImageCache(const BNImageCache&) = delete;
  BNImageCache& operator=(const BNImageCache&) = delete;

  const std::string& diskCachePath() const { return diskCachePath_; }
  // The serial queue of all disk work.
  const std::shared_ptr<os::DispatchQueue>& ioQueue() const { return ioQueue_; }
  void addReadOnlyCachePath(const std::string& path);

  std::string cachePathForKey(const std::string& key, const std::string& path) const;
  std::string defaultCachePathForKey(const std::string& key) const;
  static std::string cachedFileNameForKey(const std::string& key);

  // With recalculate, or without data, the bytes written are the image re-encoded (PNG when the
  // data is short or PNG itself, else JPEG at full quality); otherwise the data as given.
  void storeImage(const BNImagePtr& image, bool recalculateFromImage, const std::optional<os::Data>& imageData,
                  const std::string& key, bool toDisk);
  void storeImage(const BNImagePtr& image, const std::string& key) { storeImage(image, true, std::nullopt, key, true); }
  void storeImage(const BNImagePtr& image, const std::string& key, bool toDisk) {
    storeImage(image, true, std::nullopt, key, toDisk);
  }

  bool diskImageExistsWithKey(const std::string& key) const;
  void diskImageExistsWithKey(const std::string& key, CheckCacheCompletion completion);

  BNImagePtr imageFromMemoryCacheForKey(const std::string& key);
  // Memory first; a disk hit is put into memory. On the caller's thread.
  BNImagePtr imageFromDiskCacheForKey(const std::string& key);
  std::optional<os::Data> diskImageDataBySearchingAllPathsForKey(const std::string& key) const;
  BNImagePtr diskImageForKey(const std::string& key) const;
  BNImagePtr scaledImageForKey(const std::string& key, const BNImagePtr& image) const;

  // A memory hit answers at once on the caller's thread (source memory) and returns no token;
  // otherwise the io queue reads the disk and the answer (source disk, image or none) comes on
  // the main queue, unless the returned token was cancelled first. No key: answered at once with
  // nothing.
  std::shared_ptr<BNImageCacheQueryOperation> queryDiskCacheForKey(const std::string& key, QueryCompletion done);

  void removeImageForKey(const std::string& key) { removeImageForKey(key, true, nullptr); }
  void removeImageForKey(const std::string& key, NoParamsBlock completion) { removeImageForKey(key, true, std::move(completion)); }
  void removeImageForKey(const std::string& key, bool fromDisk) { removeImageForKey(key, fromDisk, nullptr); }
  void removeImageForKey(const std::string& key, bool fromDisk, NoParamsBlock completion);

  std::uint64_t maxMemoryCost() const { return memCache_.totalCostLimit(); }
  void setMaxMemoryCost(std::uint64_t cost) { memCache_.setTotalCostLimit(cost); }
  // Pictures kept in memory at most (0: no limit).
  std::size_t maxMemoryCountLimit() const { return memCache_.countLimit(); }
  void setMaxMemoryCountLimit(std::size_t count) { memCache_.setCountLimit(count); }
  std::int32_t maxCacheAge() const { return maxCacheAge_.load(); }
  void setMaxCacheAge(std::int32_t seconds) { maxCacheAge_ = seconds; }
  // Bytes; 0 means no budget. 64 bits, so a budget above 4 GiB means what it says.
  std::uint64_t maxCacheSize() const { return maxCacheSize_.load(); }
  void setMaxCacheSize(std::uint64_t bytes) { maxCacheSize_ = bytes; }

  void clearMemory();
  void clearDisk() { clearDiskOnCompletion(nullptr); }
  void clearDiskOnCompletion(NoParamsBlock completion);
  // Removes files whose modification date is maxCacheAge or more in the past, then, with a size
  // budget, the oldest files until the rest fits in half the budget.
  void cleanDisk() { cleanDiskWithCompletionBlock(nullptr); }
  void cleanDiskWithCompletionBlock(NoParamsBlock completion);
  void backgroundCleanDisk();
  // Holds the application's end (a background task) until every disk write queued so far is done.
  // Ending calls it before its clean-up: pictures stored after the application went to the
  // background (downloads still ending as it leaves) reach the disk before the process goes.
  void finishWrites();

  // Both wait for the io queue; called from a task already running on it they run in place
  // (waiting there would never end).
  std::uint64_t getSize();
  std::uint64_t getDiskCount();
  void calculateSizeWithCompletionBlock(CalculateSizeBlock completion);

  // Memory cost of an image: points × points × scale.
  static std::uint32_t cacheCostForImage(const os::Image& image);

  struct PrivateTag {};
  BNImageCache(PrivateTag, const std::string& ns, std::string directory);

 private:
  void registerObservers();
  // A background task of the shared application and the closure that ends it (once; on the main
  // thread), or nothing without an application.
  NoParamsBlock beginBackgroundTask();
  void cleanDiskNow();
  // Runs the task on the io queue and waits for it, or at once when already on that queue.
  void syncOnIOQueue(const std::function<void()>& task);

  // Puts a picture read from disk into memory, unless a removal reached memory since the read
  // was asked for (the read found the file the removal is about to delete).
  void fillMemoryFromDisk(const BNImagePtr& image, const std::string& key, std::uint64_t removalsBefore);

  BNMemoryCache memCache_;
  // Memory removals so far, counted under fillMutex_ with the removal itself.
  std::mutex fillMutex_;
  std::atomic<std::uint64_t> memoryRemovals_{0};
  const std::string diskCachePath_;
  std::shared_ptr<os::DispatchQueue> ioQueue_;
  std::atomic<std::int32_t> maxCacheAge_{kDefaultMaxCacheAge};
  std::atomic<std::uint64_t> maxCacheSize_{0};
  mutable std::mutex pathsMutex_;
  std::vector<std::string> customPaths_;
  std::vector<os::NotificationCenter::ObserverToken> observers_;
};
