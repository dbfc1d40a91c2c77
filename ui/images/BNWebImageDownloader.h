#pragma once
// Fetches image bytes over HTTP, one download per URL however many callers want it: a caller
// asking for a URL already downloading joins that download.
//
// Every caller gets a token of its own. Cancelling a token drops only that caller's closures;
// the download itself stops only when its last caller has left, so the other callers still get
// the image. Callers may ask from any thread; the callback table is guarded by one lock, and the
// entry of a URL is taken out in the same step that hands out its final result, so a caller
// either joins a download before it ends (and gets its result) or starts a new one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/URL.h"
#include "os/net/HTTPHeaderFields.h"
#include "os/runtime/OperationQueue.h"
#include "ui/images/BNWebImageDownloaderOperation.h"
#include "ui/images/BNWebImageOperation.h"

enum BNDownloadExecutionOrder : int { BNDownloadOrderFIFO = 0, BNDownloadOrderLIFO = 1 };

class BNWebImageDownloader;

// One caller's share of a download.
class BNWebImageDownloadToken : public BNWebImageOperation {
 public:
  BNWebImageDownloadToken(std::weak_ptr<BNWebImageDownloader> downloader, std::string url, std::uint64_t id)
      : downloader_(std::move(downloader)), url_(std::move(url)), id_(id) {}
  void cancel() override;
  const std::string& url() const { return url_; }
  // The download this caller started, or nothing when it joined a running one.
  std::shared_ptr<BNWebImageDownloaderOperation> operation() const { return operation_.lock(); }

 private:
  friend class BNWebImageDownloader;
  std::weak_ptr<BNWebImageDownloader> downloader_;
  std::string url_;
  std::uint64_t id_;
  std::weak_ptr<BNWebImageDownloaderOperation> operation_;
};

class BNWebImageDownloader : public std::enable_shared_from_this<BNWebImageDownloader> {
 public:
  using ProgressBlock = BNWebImageDownloaderOperation::ProgressBlock;
  using CompletedBlock = BNWebImageDownloaderOperation::CompletedBlock;
  using HeadersFilter = std::function<os::HTTPHeaderFields(const std::string& url, const os::HTTPHeaderFields& headers)>;

  static constexpr double kDefaultDownloadTimeout = 15.0;

  static std::shared_ptr<BNWebImageDownloader> sharedDownloader();
  static std::shared_ptr<BNWebImageDownloader> create();
  ~BNWebImageDownloader();
  BNWebImageDownloader(const BNWebImageDownloader&) = delete;
  BNWebImageDownloader& operator=(const BNWebImageDownloader&) = delete;

  void setValueForHTTPHeaderField(const std::optional<std::string>& value, const std::string& field);
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;

  int maxConcurrentDownloads() const { return downloadQueue_->maxConcurrentOperationCount(); }
  void setMaxConcurrentDownloads(int count) { downloadQueue_->setMaxConcurrentOperationCount(count); }
  std::size_t currentDownloadCount() const { return downloadQueue_->operationCount(); }
  void setSuspended(bool suspended) { downloadQueue_->setSuspended(suspended); }

  // 0 means the default of 15 seconds.
  double downloadTimeout() const;
  void setDownloadTimeout(double seconds);
  BNDownloadExecutionOrder executionOrder() const { return executionOrder_.load(); }
  void setExecutionOrder(BNDownloadExecutionOrder order) { executionOrder_ = order; }
  void setUsername(std::string username);
  void setPassword(std::string password);
  void setHeadersFilter(HeadersFilter filter);

  // Completion: (image, data, error, finished); partial images come with finished false. No URL
  // completes at once with an error and finished true, and gives no token.
  std::shared_ptr<BNWebImageDownloadToken> downloadImageWithURL(const std::optional<os::URL>& url, unsigned options,
                                                                ProgressBlock progress, CompletedBlock completed);

  // How many callers are waiting on the URL's download (0 when none runs).
  std::size_t callbackCountForURL(const std::string& url) const;

  struct PrivateTag {};
  explicit BNWebImageDownloader(PrivateTag);

 private:
  friend class BNWebImageDownloadToken;
  struct Callback {
    std::uint64_t id;
    ProgressBlock progress;
    CompletedBlock completed;
  };
  struct Entry {
    std::uint64_t generation = 0;
    std::vector<Callback> callbacks;
    std::weak_ptr<BNWebImageDownloaderOperation> operation;
  };

  os::URLRequest makeRequest(const std::string& url, unsigned options) const;
  std::shared_ptr<BNWebImageDownloaderOperation> makeOperation(const std::string& url, os::URLRequest request, unsigned options,
                                                               std::uint64_t generation);
  std::vector<Callback> callbacksForURL(const std::string& url, std::uint64_t generation) const;
  std::vector<Callback> takeCallbacksForURL(const std::string& url, std::uint64_t generation);
  void removeCallbacksForURL(const std::string& url, std::uint64_t generation);
  void cancelCallback(const std::string& url, std::uint64_t id);

  std::shared_ptr<os::OperationQueue> downloadQueue_;
  std::atomic<BNDownloadExecutionOrder> executionOrder_{BNDownloadOrderFIFO};
  mutable std::mutex mutex_;  // guards everything below
  std::map<std::string, Entry> URLCallbacks_;
  std::uint64_t nextId_ = 1;
  os::HTTPHeaderFields HTTPHeaders_;
  double downloadTimeout_ = kDefaultDownloadTimeout;
  std::string username_, password_;
  HeadersFilter headersFilter_;
  std::weak_ptr<BNWebImageDownloaderOperation> lastAddedOperation_;
};
