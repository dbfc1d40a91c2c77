#include "push/utilities/DUVFileCache.h"

#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"

namespace {
std::mutex sharedMutex;
std::shared_ptr<DUVFileCache> sharedCache;
}  // namespace

std::shared_ptr<DUVFileCache> DUVFileCache::startShareInstance(const std::string& cacheName) {
  std::lock_guard lock(sharedMutex);
  // One per sandbox: a fresh context (a test's) gets its own, the program keeps its one.
  if (!sharedCache || sharedCache->cachePath_ != os::Sandbox::current()->cachesDirectory())
    sharedCache = startCacheFile(cacheName);
  return sharedCache;
}

std::shared_ptr<DUVFileCache> DUVFileCache::shareInstance() {
  std::lock_guard lock(sharedMutex);
  return sharedCache;
}

std::shared_ptr<DUVFileCache> DUVFileCache::startCacheFile(const std::string& cacheName) {
  auto cache = std::make_shared<DUVFileCache>(PrivateTag{}, os::Sandbox::current()->cachesDirectory(), cacheName);
  cache->observeApplicationState();
  cache->readFileName(cacheName);
  return cache;
}

DUVFileCache::DUVFileCache(PrivateTag, std::string cachePath, std::string cacheName)
    : cachePath_(std::move(cachePath)), cacheName_(std::move(cacheName)) {}

DUVFileCache::~DUVFileCache() {
  if (snapshotPrepared_)
    if (auto* file = os::PreparedFile::forPath(fileNameForKey(cacheName_))) file->clear();
  auto& center = os::NotificationCenter::defaultCenter();
  if (backgroundToken_) center.removeObserver(backgroundToken_);
  if (memoryToken_) center.removeObserver(memoryToken_);
}

void DUVFileCache::observeApplicationState() {
  auto& center = os::NotificationCenter::defaultCenter();
  std::weak_ptr<DUVFileCache> weak = weak_from_this();
  auto save = [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->synchronize();
  };
  backgroundToken_ = center.addObserver(os::kApplicationDidEnterBackgroundNotification, nullptr, save);
  memoryToken_ = center.addObserver(os::kApplicationDidReceiveMemoryWarningNotification, nullptr, save);
}

std::string DUVFileCache::fileNameForKey(const std::string& fileName) const {
  std::string folder = cacheUser_.empty() ? cachePath_ : os::appendingPathComponent(cachePath_, cacheUser_);
  if (!os::FileManager::defaultManager().fileExistsAtPath(folder))
    os::FileManager::defaultManager().createDirectoryAtPath(folder, true);
  return os::appendingPathComponent(folder, fileName);
}

void DUVFileCache::readFileName(const std::string& name) {
  auto bytes = os::FileManager::defaultManager().contentsAtPath(fileNameForKey(name));
  if (!bytes || bytes->empty()) return;
  auto value = os::KeyedUnarchiver::unarchiveValue(*bytes);
  // A damaged file leaves the cache empty; the next write replaces it.
  if (!value || !value->dictionary()) return;
  std::lock_guard lock(mutex_);
  cacheObject_ = *value->dictionary();
}

bool DUVFileCache::synchronize() {
  std::lock_guard lock(mutex_);
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(cacheObject_)));
  if (!archive) return false;
  return os::FileManager::defaultManager().writeData(*archive, fileNameForKey(cacheName_), {.atomic = true, .mode = 0600});
}

void DUVFileCache::prepareCrashSnapshot(const os::Dictionary& entries) {
  os::Dictionary contents;
  {
    std::lock_guard lock(mutex_);
    contents = cacheObject_;
  }
  for (const auto& [key, value] : entries) {
    if (value.isNull())
      contents.remove(key);
    else
      contents.set(key, encodeCacheObject(value));
  }
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(contents)));
  auto* file = archive ? os::PreparedFile::forPath(fileNameForKey(cacheName_)) : nullptr;
  if (!file) return;
  file->prepare(*archive);
  snapshotPrepared_ = true;
}

void DUVFileCache::clearFile() {
  std::lock_guard lock(mutex_);
  os::FileManager::defaultManager().removeItemAtPath(cachePath_);
  os::FileManager::defaultManager().createDirectoryAtPath(cachePath_, true);
}

bool DUVFileCache::hasObjectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return cacheObject_.contains(key);
}

os::Value DUVFileCache::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return decodeCacheObject(cacheObject_[key]);
}

void DUVFileCache::setObject(const os::Value& object, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (object.isNull())
    cacheObject_.remove(key);
  else
    cacheObject_.set(key, encodeCacheObject(object));
}

void DUVFileCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
  cacheObject_.clear();
}

std::string DUVFileCache::description() const {
  std::lock_guard lock(mutex_);
  return "cache Content:" + os::Value(cacheObject_).description();
}

os::Value DUVFileCache::encodeCacheObject(const os::Value& object) {
  switch (object.type()) {
    case os::Value::Type::Date:
    case os::Value::Type::Data: {
      auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(object));
      return archive ? os::Value(*archive) : os::Value();
    }
    default:
      return object;
  }
}

os::Value DUVFileCache::decodeCacheObject(const os::Value& stored) {
  const os::Data* bytes = stored.data();
  if (!bytes) return stored;
  if (bytes->empty()) return os::Value();
  return os::KeyedUnarchiver::unarchiveValue(*bytes).value_or(os::Value());
}
