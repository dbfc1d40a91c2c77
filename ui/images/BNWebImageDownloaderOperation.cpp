#include "ui/images/BNWebImageDownloaderOperation.h"

#include <algorithm>
#include <limits>

#include "os/graphics/BitmapContext.h"
#include "os/net/URLError.h"
#include "os/runtime/NotificationCenter.h"
#include "ui/images/BNMainThread.h"

namespace {
// Never destroyed: a download finishing on its thread while the process exits still asks.
std::mutex& gKeyProviderMutex = *new std::mutex;
std::function<std::string(const std::string&)>& gKeyProvider = *new std::function<std::string(const std::string&)>;

// Room reserved up front for the body: the server's Content-Length is a hint, not a promise.
constexpr std::int64_t kMaxInitialReserve = 1024 * 1024;
}  // namespace

BNWebImageDownloaderOperation::BNWebImageDownloaderOperation(os::URLRequest request, unsigned options, ProgressBlock progress,
                                                             CompletedBlock completed, NoParamsBlock cancelled)
    : request_(std::move(request)),
      options_(options),
      progressBlock_(std::move(progress)),
      completedBlock_(std::move(completed)),
      cancelBlock_(std::move(cancelled)) {}

std::shared_ptr<BNWebImageDownloaderOperation> BNWebImageDownloaderOperation::initWithRequest(
    os::URLRequest request, unsigned options, ProgressBlock progress, CompletedBlock completed, NoParamsBlock cancelled) {
  return std::make_shared<BNWebImageDownloaderOperation>(std::move(request), options, std::move(progress), std::move(completed),
                                                         std::move(cancelled));
}

BNWebImageDownloaderOperation::~BNWebImageDownloaderOperation() = default;

void BNWebImageDownloaderOperation::setCredential(std::optional<os::URLCredential> credential) {
  std::lock_guard lock(mutex_);
  credential_ = std::move(credential);
}

void BNWebImageDownloaderOperation::setCacheKeyProvider(std::function<std::string(const std::string&)> provider) {
  std::lock_guard lock(gKeyProviderMutex);
  gKeyProvider = std::move(provider);
}

std::string BNWebImageDownloaderOperation::cacheKeyForURL(const std::string& url) {
  std::function<std::string(const std::string&)> provider;
  {
    std::lock_guard lock(gKeyProviderMutex);
    provider = gKeyProvider;
  }
  return provider ? provider(url) : url;
}

os::ImageOrientation BNWebImageDownloaderOperation::orientationFromPropertyValue(int value) { return os::orientationFromExif(value); }

void BNWebImageDownloaderOperation::start() {
  std::shared_ptr<os::URLConnection> connection;
  std::shared_ptr<os::RunLoop> loop;
  {
    std::lock_guard lock(mutex_);
    if (isCancelled()) {
      done();
      return;
    }
    setExecuting(true);
    loop = os::RunLoop::current();
    std::shared_ptr<os::URLConnectionDelegate> delegate(shared_from_this(), static_cast<os::URLConnectionDelegate*>(this));
    connection = os::URLConnection::create(request_, delegate, false);
    if (connection) connection->scheduleInRunLoop(loop);
    connection_ = connection;
    thread_ = loop;
  }
  if (!connection) {
    complete(nullptr, std::nullopt, os::Error::withDescription(os::kURLErrorDomain, 0, "Connection can't be initialized"), true);
    done();
    return;
  }
  connection->start();
  progress(0, -1);
  os::NotificationCenter::defaultCenter().post(BNWebImageDownloadStartNotification, this);
  // The connection reports on this thread's run loop; turn it until the download has ended. The
  // end is only ever reached on this thread (a cancel from elsewhere is performed here), so the
  // loop sleeps until its next event rather than looking again and again.
  loop->runUntilWoken([this] { return ended_.load(); }, std::numeric_limits<double>::infinity());
}

void BNWebImageDownloaderOperation::cancel() {
  if (isFinished()) return;
  auto self = std::static_pointer_cast<BNWebImageDownloaderOperation>(shared_from_this());
  // Decided under the lock start records its thread under: either start has not taken it yet and
  // finds the operation cancelled, or the connection runs and the cancel is performed on its
  // thread, whose loop sleeps until something is posted to it.
  std::lock_guard lock(mutex_);
  if (thread_) {
    // The connection belongs to its thread: cancel it there, so no callback races the cancel.
    thread_->perform([self] { self->cancelInternalAndStop(); }, false);
  } else {
    cancelInternal();
  }
}

void BNWebImageDownloaderOperation::cancelInternalAndStop() {
  if (isFinished()) return;
  cancelInternal();
}

void BNWebImageDownloaderOperation::cancelInternal() {
  if (isFinished()) return;
  os::Operation::cancel();
  NoParamsBlock cancelBlock;
  std::shared_ptr<os::URLConnection> connection;
  {
    std::lock_guard lock(mutex_);
    cancelBlock = cancelBlock_;
    connection = connection_;
  }
  if (cancelBlock) cancelBlock();
  if (connection) {
    connection->cancel();
    postStop(true);
    done();
  } else {
    // Not started yet: the queue's start finds it cancelled and finishes it.
    std::lock_guard lock(mutex_);
    reset();
  }
}

void BNWebImageDownloaderOperation::done() {
  {
    std::lock_guard lock(mutex_);
    reset();
  }
  ended_ = true;
  finish();
}

void BNWebImageDownloaderOperation::reset() {
  progressBlock_ = nullptr;
  completedBlock_ = nullptr;
  cancelBlock_ = nullptr;
  connection_.reset();
  imageData_.clear();
  imageData_.shrink_to_fit();
  thread_.reset();
}

void BNWebImageDownloaderOperation::complete(BNImagePtr image, std::optional<os::Data> data, std::optional<os::Error> error,
                                             bool finished) {
  CompletedBlock block;
  {
    std::lock_guard lock(mutex_);
    block = completedBlock_;
  }
  if (block) block(std::move(image), std::move(data), std::move(error), finished);
}

void BNWebImageDownloaderOperation::progress(std::int64_t received, std::int64_t expected) {
  ProgressBlock block;
  {
    std::lock_guard lock(mutex_);
    block = progressBlock_;
  }
  if (block) block(received, expected);
}

void BNWebImageDownloaderOperation::postStop(bool withObject) {
  os::NotificationCenter::defaultCenter().post(BNWebImageDownloadStopNotification, withObject ? this : nullptr);
}

void BNWebImageDownloaderOperation::didReceiveAuthenticationChallenge(os::URLConnection&, os::URLAuthenticationChallenge& challenge) {
  // Server trust is left to the connection's own verification: a certificate that does not
  // verify fails the download. Other challenges get our credential once.
  if (challenge.protectionSpace().authenticationMethod == os::kAuthenticationMethodServerTrust) return;
  if (challenge.previousFailureCount() > 0) {
    challenge.continueWithoutCredential();
    return;
  }
  std::optional<os::URLCredential> credential;
  {
    std::lock_guard lock(mutex_);
    credential = credential_;
  }
  if (credential)
    challenge.useCredential(*credential);
  else
    challenge.continueWithoutCredential();
}

void BNWebImageDownloaderOperation::didReceiveResponse(os::URLConnection& connection, const os::HTTPURLResponse& response) {
  int status = response.statusCode();
  std::int64_t expected = response.expectedContentLength();
  std::optional<os::Error> error;
  if (status >= 400) {
    error = os::Error(os::kURLErrorDomain, status);
  } else if (expected > kBNMaxImageDownloadBytes) {
    error = os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorTooLarge, "Image data exceeds the size limit");
  }
  if (error) {
    connection.cancel();
    postStop(false);
    complete(nullptr, std::nullopt, error, true);
    done();
    return;
  }
  expectedSize_ = expected > 0 ? expected : 0;
  progress(0, expectedSize_);
  std::lock_guard lock(mutex_);
  imageData_.clear();
  imageData_.reserve(static_cast<std::size_t>(std::min(expectedSize_, kMaxInitialReserve)));
}

void BNWebImageDownloaderOperation::didReceiveData(os::URLConnection& connection, const os::Data& data) {
  std::int64_t received;
  bool hasCompletion;
  {
    std::lock_guard lock(mutex_);
    if (static_cast<std::int64_t>(imageData_.size() + data.size()) > kBNMaxImageDownloadBytes) {
      received = -1;
    } else {
      imageData_.insert(imageData_.end(), data.begin(), data.end());
      received = static_cast<std::int64_t>(imageData_.size());
    }
    hasCompletion = static_cast<bool>(completedBlock_);
  }
  if (received < 0) {
    connection.cancel();
    postStop(false);
    complete(nullptr, std::nullopt,
             os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorTooLarge, "Image data exceeds the size limit"), true);
    done();
    return;
  }
  if ((options_ & BNDownloadProgressive) && expectedSize_ > 0 && hasCompletion) decodePartialImage();
  progress(received, expectedSize_);
}

void BNWebImageDownloaderOperation::decodePartialImage() {
  os::Data bytes;
  {
    std::lock_guard lock(mutex_);
    bytes = imageData_;
  }
  if (width_ + height_ == 0) {
    // Read once the header is there; until then there is nothing to draw.
    if (auto size = BNImagePixelSizeFromHeader(bytes)) {
      width_ = size->first;
      height_ = size->second;
      int exif = os::jpegExifOrientation(bytes);
      orientation_ = orientationFromPropertyValue(exif == 0 ? 1 : exif);
    }
  }
  if (width_ + height_ == 0 || static_cast<std::int64_t>(bytes.size()) >= expectedSize_) return;
  auto limits = BNImageDecodeLimits();
  if (width_ > limits.maxSide || height_ > limits.maxSide || static_cast<long long>(width_) * height_ > limits.maxPixels) return;
  os::ImageDecodeOptions decodeOptions;
  decodeOptions.limits = limits;
  auto partial = os::decodeImage(bytes, nullptr, decodeOptions);
  if (!partial) return;
  os::BitmapContext context(width_, height_, 1);
  if (context.bitmap().width == 0) return;
  context.drawImage(partial->upright(), os::Rect(0, 0, width_, std::min<double>(height_, partial->pixelHeight())));
  BNImagePtr image = os::Image::create(context.bitmap(), 1, orientation_);
  image = scaledImageForKey(cacheKeyForURL(request_.url()), image);
  image = decodedImageWithImage(image);
  CompletedBlock block;
  {
    std::lock_guard lock(mutex_);
    block = completedBlock_;
  }
  if (block) BNRunOnMainThread([block, image] { block(image, std::nullopt, std::nullopt, false); });
}

std::optional<os::CachedURLResponse> BNWebImageDownloaderOperation::willCacheResponse(os::URLConnection&,
                                                                                     const os::CachedURLResponse& cached) {
  responseFromCached_ = false;
  if (request_.cachePolicy() == os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData) return std::nullopt;
  return cached;
}

void BNWebImageDownloaderOperation::didFinishLoading(os::URLConnection&) {
  os::Data data;
  {
    std::lock_guard lock(mutex_);
    connection_.reset();
    thread_.reset();
    data = std::move(imageData_);
  }
  postStop(false);
  // There is no URL cache in this system, so a response never comes from one.
  responseFromCached_ = false;
  if ((options_ & BNDownloadIgnoreCachedResponse) && responseFromCached_) {
    complete(nullptr, std::nullopt, std::nullopt, true);
  } else {
    auto image = sd_imageWithData(data);
    image = scaledImageForKey(cacheKeyForURL(request_.url()), image);
    if (image && !image->isAnimated()) image = decodedImageWithImage(image);
    if (!image || image->pixelWidth() == 0 || image->pixelHeight() == 0)
      complete(nullptr, std::nullopt,
               os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorZeroPixels, "Downloaded image has 0 pixels"), true);
    else
      complete(image, std::move(data), std::nullopt, true);
  }
  done();
}

void BNWebImageDownloaderOperation::didFailWithError(os::URLConnection&, const os::Error& error) {
  postStop(false);
  // URL loading stops every answer at its own bound, which no image comes near either.
  if (error.domain == os::kURLErrorDomain && error.code == os::kURLErrorDataLengthExceedsMaximum) {
    complete(nullptr, std::nullopt,
             os::Error::withDescription(BNWebImageErrorDomain, BNWebImageErrorTooLarge, "Image data exceeds the size limit"), true);
    done();
    return;
  }
  complete(nullptr, std::nullopt, error, true);
  done();
}
