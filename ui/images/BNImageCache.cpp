#include "ui/images/BNImageCache.h"

#include <algorithm>
#include <cstring>

#include "os/core/Date.h"
#include "os/crypto/Digest.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/Once.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {
constexpr const char* kNamespacePrefix = "com.brannock.BNWebImageCache.";
constexpr const char* kIOQueueLabel = "com.brannock.BNWebImageCache";

os::FileManager& files() { return os::FileManager::defaultManager(); }

void onMain(std::function<void()> task) {
  if (task) os::DispatchQueue::main()->async(std::move(task));
}
}  // namespace

bool ImageDataHasPNGPreffix(const os::Data& data) {
  return data.size() >= sizeof kPNGSignatureBytes && std::memcmp(data.data(), kPNGSignatureBytes, sizeof kPNGSignatureBytes) == 0;
}

std::shared_ptr<BNImageCache> BNImageCache::sharedImageCache() {
  static os::Once once;
  static std::shared_ptr<BNImageCache> instance;
  once.call([] { instance = create(); });
  return instance;
}

std::shared_ptr<BNImageCache> BNImageCache::create() { return initWithNamespace("default"); }

std::shared_ptr<BNImageCache> BNImageCache::initWithNamespace(const std::string& ns) {
  std::string full = kNamespacePrefix + ns;
  auto directory = os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), full);
  auto cache = std::make_shared<BNImageCache>(PrivateTag{}, full, directory);
  cache->registerObservers();
  return cache;
}

BNImageCache::BNImageCache(PrivateTag, const std::string& ns, std::string directory)
    : memCache_(ns), diskCachePath_(std::move(directory)), ioQueue_(os::DispatchQueue::create(kIOQueueLabel)) {
  // Nothing here signals low memory, so the memory tier keeps itself small: decoded pixels up to
  // a sixteenth of the device's memory, in the cost's units (four bytes a pixel, cost counts
  // pixels / scale), and a few hundred pictures.
  const auto& device = os::Device::current().profile();
  const double bytesPerCost = 4 * std::max(1.0, device.screenScale);
  memCache_.setTotalCostLimit(static_cast<std::uint64_t>(static_cast<double>(device.physicalMemory / 16) / bytesPerCost));
  memCache_.setCountLimit(kDefaultMaxMemoryCount);
}

BNImageCache::~BNImageCache() {
  for (auto token : observers_) os::NotificationCenter::defaultCenter().removeObserver(token);
}

void BNImageCache::registerObservers() {
  std::weak_ptr<BNImageCache> weak = weak_from_this();
  auto& center = os::NotificationCenter::defaultCenter();
  observers_.push_back(center.addObserver(os::kApplicationDidReceiveMemoryWarningNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->clearMemory();
  }));
  observers_.push_back(center.addObserver(os::kApplicationWillTerminateNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) {
      self->finishWrites();
      self->cleanDisk();
    }
  }));
  observers_.push_back(center.addObserver(os::kApplicationDidEnterBackgroundNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->backgroundCleanDisk();
  }));
}

void BNImageCache::addReadOnlyCachePath(const std::string& path) {
  std::lock_guard lock(pathsMutex_);
  if (std::find(customPaths_.begin(), customPaths_.end(), path) == customPaths_.end()) customPaths_.push_back(path);
}

std::string BNImageCache::cachedFileNameForKey(const std::string& key) { return os::md5Hex(key); }

std::string BNImageCache::cachePathForKey(const std::string& key, const std::string& path) const {
  return os::appendingPathComponent(path, cachedFileNameForKey(key));
}

std::string BNImageCache::defaultCachePathForKey(const std::string& key) const { return cachePathForKey(key, diskCachePath_); }

std::uint32_t BNImageCache::cacheCostForImage(const os::Image& image) {
  os::Size size = image.size();
  double cost = size.height * size.width * image.scale();
  if (!(cost > 0)) return 0;
  if (cost >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(cost);
}

void BNImageCache::storeImage(const BNImagePtr& image, bool recalculateFromImage, const std::optional<os::Data>& imageData,
                              const std::string& key, bool toDisk) {
  if (!image || key.empty()) return;
  memCache_.setObject(image, key, cacheCostForImage(*image));
  if (!toDisk) return;
  auto self = shared_from_this();
  ioQueue_->async([self, image, recalculateFromImage, imageData, key] {
    std::optional<os::Data> bytes;
    if (!recalculateFromImage && imageData) {
      bytes = imageData;
    } else {
      bool png = !imageData || imageData->size() < sizeof kPNGSignatureBytes || ImageDataHasPNGPreffix(*imageData);
      bytes = png ? os::encodePNG(*image) : os::encodeJPEG(*image, 1.0);
    }
    if (!bytes) return;  // stays in memory only
    if (!files().fileExistsAtPath(self->diskCachePath_)) files().createDirectoryAtPath(self->diskCachePath_, true);
    auto path = self->defaultCachePathForKey(key);
    // Written beside the target and renamed over it, so a reader never sees half a picture and
    // a crash mid-write leaves the previous file (or none) rather than a torn one.
    os::WriteOptions options;
    options.atomic = true;
    if (files().writeData(*bytes, path, options))
      // Stamped with the system clock, so expiry follows the same time as everything else.
      files().setModificationDate(path, os::Date::now());
  });
}

bool BNImageCache::diskImageExistsWithKey(const std::string& key) const {
  return files().fileExistsAtPath(defaultCachePathForKey(key));
}

void BNImageCache::diskImageExistsWithKey(const std::string& key, CheckCacheCompletion completion) {
  auto self = shared_from_this();
  ioQueue_->async([self, key, completion] {
    bool exists = files().fileExistsAtPath(self->defaultCachePathForKey(key));
    if (completion) onMain([completion, exists] { completion(exists); });
  });
}

BNImagePtr BNImageCache::imageFromMemoryCacheForKey(const std::string& key) { return memCache_.objectForKey(key); }

BNImagePtr BNImageCache::imageFromDiskCacheForKey(const std::string& key) {
  if (auto image = imageFromMemoryCacheForKey(key)) return image;
  const std::uint64_t removals = memoryRemovals_.load();
  auto image = diskImageForKey(key);
  fillMemoryFromDisk(image, key, removals);
  return image;
}

void BNImageCache::fillMemoryFromDisk(const BNImagePtr& image, const std::string& key, std::uint64_t removalsBefore) {
  if (!image) return;
  std::lock_guard lock(fillMutex_);
  if (memoryRemovals_.load() == removalsBefore) memCache_.setObject(image, key, cacheCostForImage(*image));
}

void BNImageCache::clearMemory() {
  std::lock_guard lock(fillMutex_);
  ++memoryRemovals_;
  memCache_.removeAllObjects();
}

std::optional<os::Data> BNImageCache::diskImageDataBySearchingAllPathsForKey(const std::string& key) const {
  if (auto data = files().contentsAtPath(defaultCachePathForKey(key))) return data;
  std::vector<std::string> paths;
  {
    std::lock_guard lock(pathsMutex_);
    paths = customPaths_;
  }
  for (const auto& path : paths)
    if (auto data = files().contentsAtPath(cachePathForKey(key, path))) return data;
  return std::nullopt;
}

BNImagePtr BNImageCache::diskImageForKey(const std::string& key) const {
  auto data = diskImageDataBySearchingAllPathsForKey(key);
  if (!data) return nullptr;
  auto image = sd_imageWithData(*data);
  image = scaledImageForKey(key, image);
  return decodedImageWithImage(image);
}

BNImagePtr BNImageCache::scaledImageForKey(const std::string& key, const BNImagePtr& image) const {
  return BNScaledImageForKey(key, image);
}

std::shared_ptr<BNImageCacheQueryOperation> BNImageCache::queryDiskCacheForKey(const std::string& key, QueryCompletion done) {
  if (!done) return nullptr;
  if (key.empty()) {
    done(nullptr, BNCacheSourceNone);
    return nullptr;
  }
  if (auto image = imageFromMemoryCacheForKey(key)) {
    done(image, BNCacheSourceMemory);
    return nullptr;
  }
  auto token = std::make_shared<BNImageCacheQueryOperation>();
  auto self = shared_from_this();
  // Counted when asked: a removal asked after this query reaches memory first but the disk only
  // behind it, so the file this query reads may be one that is being removed.
  const std::uint64_t removals = memoryRemovals_.load();
  ioQueue_->async([self, token, key, done, removals] {
    if (token->isCancelled()) return;
    // A download may have stored the picture while the query waited: answer that one, rather than
    // decode the file into a second copy that would push it out of memory while screens show it.
    if (auto stored = self->imageFromMemoryCacheForKey(key)) {
      onMain([done, stored] { done(stored, BNCacheSourceMemory); });
      return;
    }
    auto image = self->diskImageForKey(key);
    self->fillMemoryFromDisk(image, key, removals);
    onMain([done, image] { done(image, BNCacheSourceDisk); });
  });
  return token;
}

void BNImageCache::removeImageForKey(const std::string& key, bool fromDisk, NoParamsBlock completion) {
  if (key.empty()) return;
  {
    std::lock_guard lock(fillMutex_);
    ++memoryRemovals_;
    memCache_.removeObjectForKey(key);
  }
  if (!fromDisk) {
    if (completion) completion();
    return;
  }
  auto self = shared_from_this();
  ioQueue_->async([self, key, completion] {
    files().removeItemAtPath(self->defaultCachePathForKey(key));
    onMain(completion);
  });
}

void BNImageCache::clearDiskOnCompletion(NoParamsBlock completion) {
  auto self = shared_from_this();
  ioQueue_->async([self, completion] {
    files().removeItemAtPath(self->diskCachePath_);
    files().createDirectoryAtPath(self->diskCachePath_, true);
    onMain(completion);
  });
}

void BNImageCache::cleanDiskWithCompletionBlock(NoParamsBlock completion) {
  auto self = shared_from_this();
  ioQueue_->async([self, completion] {
    self->cleanDiskNow();
    onMain(completion);
  });
}

void BNImageCache::cleanDiskNow() {
  struct Kept {
    std::string path;
    os::Date modified;
    std::uint64_t size;
  };
  os::Date expiry = os::Date::now().addingTimeInterval(-static_cast<double>(maxCacheAge_.load()));
  std::vector<std::string> expired;
  std::vector<Kept> kept;
  std::uint64_t total = 0;
  // Hidden names are not walked below: the temporary files of writes cut short go here.
  files().removeAbandonedTemporaryFilesInDirectory(diskCachePath_);
  for (const auto& relative : files().enumerateDirectory(diskCachePath_)) {
    auto path = os::appendingPathComponent(diskCachePath_, relative);
    auto attributes = files().attributesOfItemAtPath(path);
    if (!attributes || attributes->isDirectory) continue;
    if (attributes->modificationDate <= expiry) {
      expired.push_back(path);
      continue;
    }
    kept.push_back({path, attributes->modificationDate, attributes->allocatedSize});
    total += attributes->allocatedSize;
  }
  for (const auto& path : expired) files().removeItemAtPath(path);

  std::uint64_t budget = maxCacheSize_.load();
  if (budget > 0 && total > budget) {
    std::uint64_t target = budget / 2;
    std::stable_sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.modified < b.modified; });
    for (const auto& file : kept) {
      if (files().removeItemAtPath(file.path)) {
        total -= file.size;
        if (total < target) break;
      }
    }
  }
}

BNImageCache::NoParamsBlock BNImageCache::beginBackgroundTask() {
  auto application = os::Application::shared();
  if (!application) return nullptr;
  // Ask for time to finish; the grant ends with the work or when the platform withdraws it.
  auto task = std::make_shared<os::BackgroundTaskIdentifier>(os::kInvalidBackgroundTask);
  std::weak_ptr<os::Application> weakApplication = application;
  auto end = [weakApplication, task] {
    if (*task == os::kInvalidBackgroundTask) return;
    if (auto app = weakApplication.lock()) app->endBackgroundTask(*task);
    *task = os::kInvalidBackgroundTask;
  };
  *task = application->beginBackgroundTask(end);
  return end;
}

void BNImageCache::backgroundCleanDisk() { cleanDiskWithCompletionBlock(beginBackgroundTask()); }

void BNImageCache::finishWrites() {
  auto end = beginBackgroundTask();
  if (!end) return;
  ioQueue_->async([end] { onMain(end); });
}

void BNImageCache::syncOnIOQueue(const std::function<void()>& task) {
  if (ioQueue_->isCurrent())
    task();
  else
    ioQueue_->sync(task);
}

std::uint64_t BNImageCache::getSize() {
  std::uint64_t size = 0;
  syncOnIOQueue([&] {
    for (const auto& relative : files().enumerateDirectory(diskCachePath_))
      if (auto attributes = files().attributesOfItemAtPath(os::appendingPathComponent(diskCachePath_, relative)))
        size += attributes->size;
  });
  return size;
}

std::uint64_t BNImageCache::getDiskCount() {
  std::uint64_t count = 0;
  syncOnIOQueue([&] { count = files().enumerateDirectory(diskCachePath_).size(); });
  return count;
}

void BNImageCache::calculateSizeWithCompletionBlock(CalculateSizeBlock completion) {
  auto self = shared_from_this();
  ioQueue_->async([self, completion] {
    std::uint64_t count = 0, size = 0;
    for (const auto& relative : files().enumerateDirectory(self->diskCachePath_)) {
      if (auto attributes = files().attributesOfItemAtPath(os::appendingPathComponent(self->diskCachePath_, relative)))
        size += attributes->size;
      ++count;
    }
    if (completion) onMain([completion, count, size] { completion(count, size); });
  });
}
