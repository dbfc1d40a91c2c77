#pragma once
// One image download: a URL connection run on the thread of the operation queue that started
// it, whose run loop turns until the connection ends; partial images while bytes arrive (when
// asked), and at the end the bytes decoded into an image.
//
// Every end (success, failure, HTTP error, cancellation) drops the closures, so none runs after
// it. The completion runs with finished true exactly once per download that is not cancelled.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/net/URLConnection.h"
#include "os/net/URLRequest.h"
#include "os/runtime/Operation.h"
#include "os/runtime/RunLoop.h"
#include "ui/images/BNWebImageOperation.h"
#include "ui/images/ImageDecoding.h"

inline constexpr const char* BNWebImageErrorDomain = "BNWebImageErrorDomain";
// Codes of BNWebImageErrorDomain.
enum BNWebImageErrorCode : long {
  BNWebImageErrorZeroPixels = 0,       // "Downloaded image has 0 pixels"
  BNWebImageErrorNilURL = -1,          // "Trying to load a nil url"
  BNWebImageErrorTooLarge = 1,         // more bytes than an image may have
};
// Most bytes one image download may bring.
inline constexpr std::int64_t kBNMaxImageDownloadBytes = 32 * 1024 * 1024;

inline constexpr const char* BNWebImageDownloadStartNotification = "BNWebImageDownloadStartNotification";
inline constexpr const char* BNWebImageDownloadStopNotification = "BNWebImageDownloadStopNotification";

// Download option bits.
enum BNDownloadOption : unsigned {
  BNDownloadLowPriority = 1,
  BNDownloadProgressive = 2,
  BNDownloadUseURLCache = 4,
  BNDownloadIgnoreCachedResponse = 8,
  BNDownloadInBackground = 16,
  BNDownloadHandleCookies = 32,
  BNDownloadAllowInvalidCertificates = 64,  // carried only: certificates are always verified
  BNDownloadHighPriority = 128,
};

class BNWebImageDownloaderOperation : public os::Operation, public os::URLConnectionDelegate, public BNWebImageOperation {
 public:
  using ProgressBlock = std::function<void(std::int64_t receivedSize, std::int64_t expectedSize)>;
  using CompletedBlock = std::function<void(BNImagePtr image, std::optional<os::Data> data, std::optional<os::Error> error, bool finished)>;
  using NoParamsBlock = std::function<void()>;

  BNWebImageDownloaderOperation(os::URLRequest request, unsigned options, ProgressBlock progress, CompletedBlock completed,
                                NoParamsBlock cancelled);
  static std::shared_ptr<BNWebImageDownloaderOperation> initWithRequest(os::URLRequest request, unsigned options,
                                                                        ProgressBlock progress, CompletedBlock completed,
                                                                        NoParamsBlock cancelled);
  ~BNWebImageDownloaderOperation() override;

  const os::URLRequest& request() const { return request_; }
  unsigned options() const { return options_; }
  void setCredential(std::optional<os::URLCredential> credential);
  bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_; }
  void setShouldUseCredentialStorage(bool on) { shouldUseCredentialStorage_ = on; }
  bool shouldContinueWhenAppEntersBackground() const { return (options_ & BNDownloadInBackground) != 0; }
  int width() const { return width_; }
  int height() const { return height_; }
  std::int64_t expectedSize() const { return expectedSize_; }

  // The cache key a download's URL gets (for the "@2x." scale rule); the image manager installs
  // its own rule, else the URL's absolute string.
  static void setCacheKeyProvider(std::function<std::string(const std::string& url)> provider);
  static std::string cacheKeyForURL(const std::string& url);

  static os::ImageOrientation orientationFromPropertyValue(int value);
  BNImagePtr scaledImageForKey(const std::string& key, const BNImagePtr& image) const { return BNScaledImageForKey(key, image); }

  void start() override;
  void cancel() override;
  bool isAsynchronous() const override { return true; }

  // Connection delegate.
  bool connectionShouldUseCredentialStorage(os::URLConnection& connection) override { return shouldUseCredentialStorage_; }
  void didReceiveAuthenticationChallenge(os::URLConnection& connection, os::URLAuthenticationChallenge& challenge) override;
  void didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse& response) override;
  void didReceiveData(os::URLConnection& connection, const os::Data& data) override;
  std::optional<os::CachedURLResponse> willCacheResponse(os::URLConnection& connection, const os::CachedURLResponse& cached) override;
  void didFinishLoading(os::URLConnection& connection) override;
  void didFailWithError(os::URLConnection& connection, const os::Error& error) override;

 private:
  void cancelInternalAndStop();
  void cancelInternal();
  // Ends the operation: marks it finished and drops closures, connection, data and thread.
  void done();
  void reset();
  void complete(BNImagePtr image, std::optional<os::Data> data, std::optional<os::Error> error, bool finished);
  void progress(std::int64_t received, std::int64_t expected);
  void postStop(bool withObject);
  void decodePartialImage();

  const os::URLRequest request_;
  const unsigned options_;
  mutable std::recursive_mutex mutex_;
  ProgressBlock progressBlock_;
  CompletedBlock completedBlock_;
  NoParamsBlock cancelBlock_;
  std::optional<os::URLCredential> credential_;
  bool shouldUseCredentialStorage_ = true;
  bool responseFromCached_ = true;
  int width_ = 0, height_ = 0;
  os::ImageOrientation orientation_ = os::ImageOrientation::Up;
  std::int64_t expectedSize_ = 0;
  os::Data imageData_;
  std::shared_ptr<os::URLConnection> connection_;
  std::shared_ptr<os::RunLoop> thread_;  // the run loop of the thread running the connection
  std::atomic<bool> ended_{false};
};
